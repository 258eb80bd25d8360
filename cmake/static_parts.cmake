# What a static program carries of the build machine: the Debian packages whose archives and
# start files the linker took, read from its map, with each package's version, source package and
# license. Included by the packing scripts; a build outside Debian's packages has no parts to name.

# The license of what each source package puts into a program: its C library, its compiler's
# runtimes (under the GCC runtime exception), or mingw-w64's runtime (ZPL-2.1, or in the public
# domain, as its copyright file says).
set(nodestart_static_parts_file ${CMAKE_CURRENT_LIST_FILE})
set(nodestart_part_licenses
    glibc "LGPL-2.1-or-later"
    cross-toolchain-base "LGPL-2.1-or-later"
    gcc-12 "GPL-3.0-or-later WITH GCC-exception-3.1"
    gcc-12-cross "GPL-3.0-or-later WITH GCC-exception-3.1"
    gcc-mingw-w64 "GPL-3.0-or-later WITH GCC-exception-3.1"
    mingw-w64 "ZPL-2.1")

# nodestart_static_parts(OUT MAP...): OUT gets one entry a package, in name order, its fields
# joined by "|": package, version, architecture, source package, source version, license.
function(nodestart_static_parts out)
  set(files "")
  foreach(map IN LISTS ARGN)
    if(NOT EXISTS ${map})
      message(FATAL_ERROR "no linker map ${map}: build the programs before packing them")
    endif()
    file(STRINGS ${map} lines)
    foreach(line IN LISTS lines)
      # An archive's member ("/path/libc.a(printf.o)") or a start file the linker loaded.
      if(line MATCHES "^(/[^ (]+\\.a)\\(")
        list(APPEND files ${CMAKE_MATCH_1})
      elseif(line MATCHES "^LOAD (/[^ ]+\\.o)$")
        list(APPEND files ${CMAKE_MATCH_1})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES files)
  set(paths "")  # as dpkg knows them: without "dir/..", links followed
  foreach(file IN LISTS files)
    file(REAL_PATH ${file} path)
    list(APPEND paths ${path})
  endforeach()
  list(REMOVE_DUPLICATES paths)
  if(NOT paths)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()

  execute_process(COMMAND dpkg-query --search ${paths} OUTPUT_VARIABLE owners RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-query --search finds no package for some of: ${paths}")
  endif()
  string(REGEX MATCHALL "[^\n]+" owners "${owners}")
  set(packages "")
  foreach(owner IN LISTS owners)
    string(REGEX REPLACE ":.*" "" package "${owner}")
    list(APPEND packages ${package})
  endforeach()
  list(REMOVE_DUPLICATES packages)
  list(SORT packages)

  set(parts "")
  foreach(package IN LISTS packages)
    execute_process(
      COMMAND dpkg-query --show "--showformat=\${Version}|\${Architecture}|\${source:Package}|\${source:Version}"
              ${package}
      OUTPUT_VARIABLE fields RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-query --show ${package} failed")
    endif()
    string(REPLACE "|" ";" field_list "${fields}")
    list(GET field_list 2 source)
    list(FIND nodestart_part_licenses ${source} at)
    if(at EQUAL -1)
      message(FATAL_ERROR "no license known for Debian's source package ${source} (of ${package}): "
                          "add it to ${nodestart_static_parts_file}")
    endif()
    math(EXPR at "${at} + 1")
    list(GET nodestart_part_licenses ${at} license)
    list(APPEND parts "${package}|${fields}|${license}")
  endforeach()
  set(${out} "${parts}" PARENT_SCOPE)
endfunction()
