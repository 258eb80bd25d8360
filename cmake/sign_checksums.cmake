# Run by CPack once SHA256SUMS is written: SHA256SUMS.asc beside it, a detached OpenPGP signature
# by the key NODESTART_OPENPGP_KEY names, which proves who made the list of every package and
# SBOM. Without a key no signature is left, as one of an earlier list would not match this one.
set(sums ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
set(key "$ENV{NODESTART_OPENPGP_KEY}")
file(REMOVE ${sums}.asc)
if(NOT key STREQUAL "")
  execute_process(COMMAND gpg --batch --yes --local-user ${key} --armor --detach-sign
                          --output ${sums}.asc ${sums}
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
