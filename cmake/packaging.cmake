# Installing and packaging: the tool, its manual page and its documents where each platform keeps
# them; a Debian package and an RPM package on Linux, a zip on Windows. Versions come from the
# project's version.
include(GNUInstallDirs)
set(NODESTART_MAINTAINER "nodestart developers <nodestart@example.org>")
# The documents CONTRIBUTING.md and RELEASES.md link (checking a release among them), shipped in
# docs/ beside them so that the links hold.
set(NODESTART_DOCS docs/benchmark.md docs/cross-building.md docs/releasing.md
                   docs/verifying-a-release.md docs/virtual-machines.md)

if(WIN32)
  # A zip users unpack anywhere: everything side by side.
  install(TARGETS nodestart nodestart-probe RUNTIME DESTINATION .)
  install(FILES README.md RELEASES.md CONTRIBUTING.md LICENSE CHANGELOG.md DESTINATION .)
  install(FILES ${NODESTART_DOCS} DESTINATION docs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME nodestart-${NODESTART_VERSION}-win64)
else()
  # Compressed without names or times, as Debian keeps them, so that packages are reproducible.
  # The dates are the build's: SOURCE_DATE_EPOCH's in a reproducible build.
  string(TIMESTAMP NODESTART_RELEASE_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
  string(TIMESTAMP NODESTART_MANUAL_DATE "%Y-%m-%d" UTC)
  string(TIMESTAMP NODESTART_RPM_DATE "%a %b %d %Y" UTC)
  set(generated ${CMAKE_BINARY_DIR}/generated)
  configure_file(man/nodestart.1.in ${generated}/nodestart.1 @ONLY)
  configure_file(man/nodestart-probe.1.in ${generated}/nodestart-probe.1 @ONLY)
  configure_file(packaging/debian-changelog.in ${generated}/changelog @ONLY)
  configure_file(packaging/rpm-changelog.in ${generated}/rpm-changelog @ONLY)
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
  # The README links RELEASES.md and CONTRIBUTING.md, which go beside it, and they link docs/.
  install(FILES ${generated}/changelog.gz ${generated}/CHANGELOG.md.gz README.md RELEASES.md
                CONTRIBUTING.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${NODESTART_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  # The license where Debian and its users look for it (with the notices of what the programs
  # link statically, written when they are packed), and lintian's overrides where it does.
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
  install(FILES packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME nodestart)
  # One file completes both programs; bash-completion loads it by the name of either, the
  # probe's a link to the tool's.
  set(completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  install(FILES packaging/bash-completion/nodestart DESTINATION ${completions})
  install(CODE "file(CREATE_LINK nodestart
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${completions}/nodestart-probe\" SYMBOLIC)")

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
  # Statically linked: it depends on nothing. The probe names devices from the PCI ids database
  # where one is installed (the RPM names none: Debian's rpmbuild drops a Suggests tag).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS pci.ids)
  set(CPACK_STRIP_FILES ON)

  # The same files for RPM-based systems, less lintian's overrides; the license as RPM marks it.
  list(APPEND CPACK_GENERATOR RPM)
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_SUMMARY "Start a program that prefers one NUMA node")
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_AUTOREQPROV OFF)
  set(CPACK_RPM_PACKAGE_RELOCATABLE OFF)
  # The system owns the manual's and bash-completion's folders.
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1
      /usr/share/bash-completion /usr/share/bash-completion/completions)
  set(CPACK_RPM_CHANGELOG_FILE ${generated}/rpm-changelog)
  set(docdir /usr/${CMAKE_INSTALL_DOCDIR})
  set(CPACK_RPM_USER_FILELIST "%license ${docdir}/copyright" "%doc ${docdir}/README.md"
      "%doc ${docdir}/RELEASES.md"
      "%doc ${docdir}/CONTRIBUTING.md" "%doc ${docdir}/CHANGELOG.md.gz" "%exclude ${docdir}/changelog.gz"
      "%exclude /usr/${CMAKE_INSTALL_DATADIR}/lintian")
  foreach(document IN LISTS NODESTART_DOCS)
    list(APPEND CPACK_RPM_USER_FILELIST "%doc ${docdir}/${document}")
  endforeach()
  # Nothing of the machine that builds it: a fixed build host, SOURCE_DATE_EPOCH as the build
  # time and as the latest time of every file, no build-id links or debug package of its own.
  # The programs as the Debian package has them and the SBOM lists them: rpmbuild strips no
  # section of its own after CPack has stripped them.
  set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${NODESTART_MAINTAINER}
%define __os_install_post %{nil}
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _build_id_links none
%define _dbpath ${CMAKE_BINARY_DIR}/rpmdb
%define debug_package %{nil}")
endif()
# Folders as Debian has them, whatever the umask of the one who packs.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_PACKAGE_NAME nodestart)
set(CPACK_PACKAGE_VERSION ${NODESTART_VERSION})
set(CPACK_PACKAGE_VENDOR "the nodestart authors")
set(CPACK_PACKAGE_CONTACT ${NODESTART_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "start a program that prefers one NUMA node")
set(CPACK_PACKAGE_DESCRIPTION "nodestart starts a program as a child that prefers the NUMA node
given, waits for it and prints its exit code. It is meant for tuning and
benchmarking workloads on machines of several NUMA nodes. On Linux the child
starts on the node's CPUs and its memory policy prefers the node.")
set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# What the programs link statically, declared, and signatures where a key is supplied (the scripts
# say how); SHA256SUMS beside the packages, once they are all packed. A Visual Studio build packs
# its programs alone: its linker writes no map to read the parts from.
set(scripts ${PROJECT_SOURCE_DIR}/cmake)
if(WIN32)
  set(CPACK_PRE_BUILD_SCRIPTS ${scripts}/sign_programs.cmake)
  set(CPACK_NODESTART_PROGRAM_SUFFIX .exe)  # where the zip has them: at its top
  set(CPACK_NODESTART_NOTICES THIRD-PARTY-NOTICES.txt)
  set(CPACK_NODESTART_SBOM_FILE ${CPACK_PACKAGE_FILE_NAME}.spdx.json)
else()
  set(CPACK_POST_BUILD_SCRIPTS ${scripts}/static_built_using.cmake ${scripts}/sign_rpms.cmake)
  set(CPACK_NODESTART_PROGRAM_DIR usr/${CMAKE_INSTALL_BINDIR}/)
  set(CPACK_NODESTART_NOTICES usr/${CMAKE_INSTALL_DOCDIR}/copyright)
  set(CPACK_NODESTART_SBOM_FILE
      nodestart-${NODESTART_VERSION}-linux-${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}.spdx.json)
endif()
if(NOT MSVC)
  list(APPEND CPACK_PRE_BUILD_SCRIPTS ${scripts}/declare_static_parts.cmake)
  set(CPACK_NODESTART_PROGRAMS nodestart nodestart-probe)
  set(CPACK_NODESTART_MAP_DIR ${CMAKE_BINARY_DIR})
endif()
list(APPEND CPACK_POST_BUILD_SCRIPTS ${scripts}/checksums.cmake ${scripts}/sign_checksums.cmake)
include(CPack)
