# Installing and packaging: the tool, its manual page and its documents where each platform keeps
# them; a Debian package on Linux, a zip on Windows. Versions come from the project's version.
include(GNUInstallDirs)
set(NODESTART_MAINTAINER "nodestart developers <nodestart@example.org>")

if(WIN32)
  # A zip users unpack anywhere: everything side by side.
  install(TARGETS nodestart nodestart-probe RUNTIME DESTINATION .)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME nodestart-${PROJECT_VERSION}-win64)
else()
  # Compressed without names or times, as Debian keeps them, so that packages are reproducible.
  # The dates are the build's: SOURCE_DATE_EPOCH's in a reproducible build.
  string(TIMESTAMP NODESTART_RELEASE_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
  string(TIMESTAMP NODESTART_MANUAL_DATE "%Y-%m-%d" UTC)
  set(generated ${CMAKE_BINARY_DIR}/generated)
  configure_file(man/nodestart.1.in ${generated}/nodestart.1 @ONLY)
  configure_file(man/nodestart-probe.1.in ${generated}/nodestart-probe.1 @ONLY)
  configure_file(packaging/debian-changelog.in ${generated}/changelog @ONLY)
  configure_file(CHANGELOG.md ${generated}/CHANGELOG.md COPYONLY)
  set(compressed ${generated}/nodestart.1.gz ${generated}/nodestart-probe.1.gz
                 ${generated}/changelog.gz ${generated}/CHANGELOG.md.gz)
  foreach(file IN LISTS compressed)
    string(REGEX REPLACE "\\.gz$" "" plain ${file})
    add_custom_command(OUTPUT ${file} COMMAND gzip -9nkf ${plain} DEPENDS ${plain} VERBATIM)
  endforeach()
  add_custom_target(documents ALL DEPENDS ${compressed})

  install(TARGETS nodestart nodestart-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${generated}/nodestart.1.gz ${generated}/nodestart-probe.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${generated}/changelog.gz ${generated}/CHANGELOG.md.gz README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The license where Debian and its users look for it, and lintian's overrides where it does.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME nodestart)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NODESTART_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Debian's name for the architecture built for.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  # Statically linked: it depends on nothing.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_STRIP_FILES ON)
endif()
# Folders as Debian has them, whatever the umask of the one who packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME nodestart)
set(CPACK_PACKAGE_VENDOR "the nodestart authors")
set(CPACK_PACKAGE_CONTACT ${NODESTART_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "start a program that prefers one NUMA node")
set(CPACK_PACKAGE_DESCRIPTION "nodestart starts a program as a child whose memory the system takes
preferably from the NUMA node given, waits for it and prints its exit code. It
is meant for tuning and benchmarking workloads on machines of several NUMA
nodes. On Linux it sets the memory policy that numactl --preferred sets.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# SHA256SUMS beside the packages, once they are all packed.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/checksums.cmake)
include(CPack)
