# Run by CPack before it packs the Windows programs: each .exe signed with Authenticode when a
# certificate is supplied, so that Windows names its publisher. NODESTART_AUTHENTICODE_CERT names
# the certificate (and its chain) and NODESTART_AUTHENTICODE_KEY its private key, as PEM or DER
# files; NODESTART_AUTHENTICODE_TIMESTAMP an RFC 3161 timestamp server, if any. Without them the
# programs stay as built, bit for bit.
set(certificate "$ENV{NODESTART_AUTHENTICODE_CERT}")
set(key "$ENV{NODESTART_AUTHENTICODE_KEY}")
if(certificate STREQUAL "" AND key STREQUAL "")
  return()
endif()
if(certificate STREQUAL "" OR key STREQUAL "")
  message(FATAL_ERROR "signing needs both NODESTART_AUTHENTICODE_CERT and NODESTART_AUTHENTICODE_KEY")
endif()
find_program(osslsigncode osslsigncode)
if(NOT osslsigncode)
  message(FATAL_ERROR "signing the programs needs osslsigncode (Debian's package osslsigncode)")
endif()
set(timestamp "")
if(NOT "$ENV{NODESTART_AUTHENTICODE_TIMESTAMP}" STREQUAL "")
  set(timestamp -ts "$ENV{NODESTART_AUTHENTICODE_TIMESTAMP}")
endif()

file(GLOB_RECURSE programs ${CPACK_TEMPORARY_DIRECTORY}/*.exe)
foreach(program IN LISTS programs)
  get_filename_component(name ${program} NAME_WE)
  execute_process(COMMAND ${osslsigncode} sign -certs ${certificate} -key ${key} -h sha256
                          -n ${name} ${timestamp} -in ${program} -out ${program}.signed
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${program}.signed ${program})
  message(STATUS "signed ${name}.exe with Authenticode")
endforeach()
