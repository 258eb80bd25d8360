# What a static program carries of the build machine: the parts of other projects whose archives
# and start files the linker took, read from its map, each with the Debian package it came from,
# that package's version and source package, and the part's license. Included by the packing
# scripts; a build outside Debian's packages has no parts to name.
set(nodestart_static_parts_file ${CMAKE_CURRENT_LIST_FILE})

# nodestart_part_project(OUT SOURCE FILE): "project|license|source|holders" of FILE (an archive's
# member as "libx.a(member.o)", or a start file), from a package of Debian's source package SOURCE,
# as the package's copyright file gives them: the C library, the compiler's runtimes (under the GCC
# runtime exception), and mingw-w64's runtime with the threads library and the number conversions
# it holds under licenses of their own. "source" matches the source package whose code it is (a
# cross library's package is built from another, which names it in its Built-Using); "holders",
# joined by "&", are those of the code the part is made of.
function(nodestart_part_project out source file)
  if(source MATCHES "^(glibc|cross-toolchain-base)$")
    set(part "glibc|LGPL-2.1-or-later|glibc|Free Software Foundation, Inc.")
  elseif(source MATCHES "^gcc-")
    set(gcc "GPL-3.0-or-later WITH GCC-exception-3.1|gcc-[0-9]+|Free Software Foundation, Inc.")
    if(file MATCHES "^lib(std|sup)c\\+\\+\\.a\\(")
      set(part "libstdc++|${gcc}")
    else()
      set(part "libgcc|${gcc}")
    endif()
  elseif(source STREQUAL "mingw-w64")
    # gdtoa's number conversions, and mingw's printf, which its copyright file puts under gdtoa's
    # license.
    set(gdtoa "dmisc|dtoa|g__fmt|g_[a-z]fmt|gdtoa|gethex|gmisc|hd_init|hexnan|misc|qnan|smisc|strto[a-z]*|sum|ulp|mingw_pformatw?")
    if(file MATCHES "^lib(win)?pthread\\.a\\(")
      set(part "winpthreads|MIT|mingw-w64|mingw-w64 project")
    elseif(file MATCHES "^libmingwex\\.a\\(.*-(${gdtoa})\\.o\\)$")
      set(part "gdtoa|LicenseRef-gdtoa|mingw-w64|Lucent Technologies&David M. Gay")
    else()
      set(part "mingw-w64-crt|ZPL-2.1|mingw-w64|mingw-w64 project")
    endif()
  else()
    message(FATAL_ERROR "no project known for ${file} of Debian's source package ${source}: "
                        "add it to ${nodestart_static_parts_file}")
  endif()
  set(${out} "${part}" PARENT_SCOPE)
endfunction()

# nodestart_static_parts(OUT MAP...): OUT gets one entry a part and package, in name order, its
# fields joined by "|": project, license, package, version, architecture, source package, source
# version (the source package whose code it is, with its version), holders.
function(nodestart_static_parts out)
  set(files "")  # "path|name": an archive's member as "libx.a(member.o)"
  foreach(map IN LISTS ARGN)
    if(NOT EXISTS ${map})
      message(FATAL_ERROR "no linker map ${map}: build the programs before packing them")
    endif()
    file(STRINGS ${map} lines)
    foreach(line IN LISTS lines)
      # An archive's member ("/path/libc.a(printf.o)") or a start file the linker loaded.
      if(line MATCHES "^(/[^ (]+\\.a)\\(([^)]+)\\)")
        get_filename_component(archive ${CMAKE_MATCH_1} NAME)
        list(APPEND files "${CMAKE_MATCH_1}|${archive}(${CMAKE_MATCH_2})")
      elseif(line MATCHES "^LOAD (/[^ ]+\\.o)$")
        get_filename_component(name ${CMAKE_MATCH_1} NAME)
        list(APPEND files "${CMAKE_MATCH_1}|${name}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES files)
  set(paths "")  # as dpkg knows them: without "dir/..", links followed
  foreach(file IN LISTS files)
    string(REGEX REPLACE "\\|.*" "" file "${file}")
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
  set(parts "")
  foreach(file IN LISTS files)
    string(REGEX REPLACE "\\|.*" "" path "${file}")
    string(REGEX REPLACE ".*\\|" "" name "${file}")
    file(REAL_PATH ${path} path)
    foreach(owner IN LISTS owners)
      if(owner MATCHES "^([^:,]+)(:[^:]*)?: (.*)$" AND CMAKE_MATCH_3 STREQUAL path)
        set(package ${CMAKE_MATCH_1})
      endif()
    endforeach()
    if(NOT DEFINED fields_${package})
      execute_process(
        COMMAND dpkg-query --show "--showformat=\${Version}|\${Architecture}|\${source:Package}|\${source:Version}|\${Built-Using}"
                ${package}
        OUTPUT_VARIABLE fields_${package} RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-query --show ${package} failed")
      endif()
    endif()
    string(REPLACE "|" ";" field_list "${fields_${package}}")
    list(GET field_list 0 1 2 3 fields)
    list(GET field_list 2 source)
    list(GET field_list 4 built_using)
    nodestart_part_project(project ${source} "${name}")
    string(REPLACE "|" ";" project "${project}")
    list(GET project 0 1 part)
    list(GET project 2 code)
    list(GET project 3 holders)
    # The source of the code: the package's own, or for one built from a packaging-only source
    # (Debian's cross libraries), the one its Built-Using names.
    if(NOT source MATCHES "^${code}$")
      if(NOT built_using MATCHES "(^|, )(${code}) \\(= ([^)]+)\\)")
        message(FATAL_ERROR "Debian's ${package} is built from ${source} and names no source "
                            "package ${code} in its Built-Using (${built_using})")
      endif()
      list(REMOVE_AT fields 3 2)
      list(APPEND fields ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
    endif()
    list(JOIN part "|" part)
    list(JOIN fields "|" fields)
    list(APPEND parts "${part}|${package}|${fields}|${holders}")
  endforeach()
  list(REMOVE_DUPLICATES parts)
  list(SORT parts)
  set(${out} "${parts}" PARENT_SCOPE)
endfunction()

# nodestart_upstream_version(OUT VERSION): Debian's VERSION without its epoch and revision, as the
# project numbers it ("2.36-9+deb12u13" gives "2.36").
function(nodestart_upstream_version out version)
  string(REGEX REPLACE "^[0-9]+:" "" version "${version}")
  string(REGEX REPLACE "-[^-]*$" "" version "${version}")
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

# nodestart_indented(OUT TEXT): TEXT as the continuation of a field: each line after a space, a
# blank line as " .".
function(nodestart_indented out text)
  string(REGEX REPLACE "\n+$" "" text "${text}")
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" text "${text}")  # a blank line after one
  string(REPLACE "\n" "\n " text "${text}")
  set(${out} " ${text}" PARENT_SCOPE)
endfunction()

# nodestart_write_notices(FILE PROGRAMS LICENSE PARTS TEXTS): FILE in Debian's machine-readable
# copyright format: the project under LICENSE (its MIT text), then the PROGRAMS (their paths as
# packed) with the holders of the parts they link statically and their licenses, under each of
# which the copyright file of the parts' Debian package follows whole, as the build machine has it;
# the source packages whose code is linked, and that the programs can be relinked from the
# project's source. With TEXTS (a package for systems without Debian's common-licenses) the GNU
# licenses' texts follow too, from that folder of the build machine.
function(nodestart_write_notices file programs license parts texts)
  file(READ ${license} mit)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" own "${mit}")
  set(own "${CMAKE_MATCH_1}")
  string(FIND "${mit}" "\n\n" title_end)  # the text without its title
  math(EXPR title_end "${title_end} + 2")
  string(SUBSTRING "${mit}" ${title_end} -1 mit)
  set(copyright "")
  set(licenses Expat)  # the project's, named as Debian's copyright format names it
  set(sources "")
  set(linked_Expat "")
  set(notices_Expat "")
  foreach(part IN LISTS parts)
    string(REPLACE "|" ";" part "${part}")
    list(GET part 0 project)
    list(GET part 1 name)
    list(GET part 2 package)
    list(GET part 3 version)
    list(GET part 5 source)
    list(GET part 6 source_version)
    string(REGEX REPLACE "(\\.0)?-or-later" "+" short "${name}")
    string(REGEX REPLACE " WITH GCC-exception-3.1" " with GCC-Runtime-3.1 exception" short "${short}")
    string(REGEX REPLACE "^MIT$" "Expat" short "${short}")
    string(REGEX REPLACE "^LicenseRef-" "" short "${short}")
    string(MAKE_C_IDENTIFIER "${short}" key)
    if(NOT short IN_LIST licenses)
      list(APPEND licenses "${short}")
      set(linked_${key} "")
      set(notices_${key} "")
    endif()
    list(APPEND linked_${key} "${project} (Debian's ${package} ${version})")
    list(APPEND notices_${key} ${package})
    list(APPEND sources "${source} ${source_version}")
    list(GET part 7 holders)
    file(READ /usr/share/doc/${package}/copyright notice)
    string(REPLACE "&" ";" holders "${holders}")
    foreach(holder IN LISTS holders)
      string(FIND "${notice}" "${holder}" at)
      if(at GREATER -1)
        list(APPEND copyright " ${holder}")
      else()
        message(FATAL_ERROR "the copyright file of Debian's ${package} names no ${holder}")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES copyright)
  list(REMOVE_DUPLICATES sources)
  list(JOIN sources ", " sources)
  list(JOIN copyright "\n" copyright)

  set(out "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: nodestart

Files: *
Copyright: ${own}
License: Expat
")
  if(parts)
    list(JOIN licenses " and " all)
    set(relink "")
    if(all MATCHES "LGPL")
      set(relink "
 The GNU LGPL asks that a user can relink the programs with a changed library: the
 project's source builds them, with the same or other versions of these parts (its
 CONTRIBUTING.md says how).")
    endif()
    string(APPEND out "
Files: ${programs}
Copyright: ${own}
${copyright}
License: ${all}
Comment: Linked statically, these programs carry parts of other projects, as the
 build machine's Debian packages had them; each license names its parts, and the
 copyright file of each part's package follows it. The code linked is that of Debian's
 source packages ${sources} (apt-get source PACKAGE=VERSION, or
 https://snapshot.debian.org).${relink}
")
  endif()
  foreach(short IN LISTS licenses)
    set(written "")  # a copyright file the license's parts share, once
    string(MAKE_C_IDENTIFIER "${short}" key)
    set(text "")
    if(short STREQUAL "Expat")
      set(text "${mit}\n")
    endif()
    if(linked_${key})
      list(REMOVE_DUPLICATES linked_${key})
      list(JOIN linked_${key} ", " linked)
      string(APPEND text "\nLinked into the programs under this license: ${linked}.\n")
    endif()
    list(REMOVE_DUPLICATES notices_${key})
    foreach(package IN LISTS notices_${key})
      file(READ /usr/share/doc/${package}/copyright notice)
      string(SHA256 seen "${notice}")
      if(seen IN_LIST written)
        string(APPEND text "\nThe copyright file of Debian's ${package} is the one above.\n")
      else()
        list(APPEND written ${seen})
        string(APPEND text "\nThe copyright file of Debian's ${package}, as the build machine had it:\n\n${notice}\n")
      endif()
    endforeach()
    # The GNU licenses whole, where the system keeps no copy (the exception is in GCC's
    # copyright file above).
    set(gnu "")
    if(texts AND short MATCHES "^LGPL-2.1")
      set(gnu "GNU Lesser General Public License, version 2.1|LGPL-2.1")
    elseif(texts AND short MATCHES "^GPL-3")
      set(gnu "GNU General Public License, version 3|GPL-3")
    endif()
    if(gnu)
      string(REPLACE "|" ";" gnu "${gnu}")
      list(GET gnu 0 title)
      list(GET gnu 1 name)
      file(READ /usr/share/common-licenses/${name} whole)
      string(APPEND text "\nThe ${title}, whole:\n\n${whole}\n")
    endif()
    string(STRIP "${text}" text)
    nodestart_indented(text "${text}")
    string(APPEND out "\nLicense: ${short}\n${text}\n")
  endforeach()
  file(WRITE ${file} "${out}")
endfunction()
