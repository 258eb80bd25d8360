# Run by CPack once it has packed: the Debian package gets the field Debian gives what a package
# links statically, Static-Built-Using, naming the source packages and versions of the C library
# and the compiler's runtimes, as declare_static_parts.cmake found them before the packing. CPack
# has no way to add a field, so dpkg-deb packs it anew, with the same files, modes and times
# (SOURCE_DATE_EPOCH's in a release).
set(built_using "${CPACK_NODESTART_STATIC_BUILT_USING}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$" OR built_using STREQUAL "")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/static-built-using)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  file(READ ${tree}/DEBIAN/control control)
  string(STRIP "${control}" control)
  # Modes as the package has them, whatever the umask of the one who packs: dpkg-deb takes them
  # from the package, and the control file keeps its own when it is written anew.
  file(WRITE ${tree}/DEBIAN/control "${control}\nStatic-Built-Using: ${built_using}\n")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -z9 --build ${tree} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
