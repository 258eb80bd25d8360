# Run by CPack once it has packed: the RPMs just made signed with the OpenPGP key that
# NODESTART_OPENPGP_KEY names (a fingerprint or user ID in gpg's keyring, GNUPGHOME's if set),
# before their checksums are listed. Without it they stay as packed, bit for bit.
set(key "$ENV{NODESTART_OPENPGP_KEY}")
if(key STREQUAL "")
  return()
endif()
# Debian's rpm looks for gpg as gpg2, a name Debian no longer has.
find_program(gpg gpg REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.rpm$")
    execute_process(COMMAND rpmsign --addsign --define "__gpg ${gpg}" --define "_gpg_name ${key}"
                            ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
