# Run by CPack before it packs: names what the programs carry of the build machine, since a
# scanner finds no library in a static program. The package's notices (the .deb's and the RPM's
# copyright, the zip's third-party notices) name each part with its license and copyright file;
# the RPM provides each part as bundled, by project; an SPDX 2.3 document beside the packages
# lists the programs as they are packed, with their checksums, and for each the parts it links
# statically, with version, license and the package URL of the Debian package they came from;
# the Debian package's field is left for static_built_using.cmake, which runs after the packing
# in this same scope. Nothing in it depends on when or where it is made.
cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/static_parts.cmake)

# nodestart_spdx_id(OUT KIND NAME): an identifier SPDX allows ("+" is not among its characters).
function(nodestart_spdx_id out kind name)
  string(REGEX REPLACE "[^A-Za-z0-9.-]" "-" name "${name}")
  set(${out} "SPDXRef-${kind}-${name}" PARENT_SCOPE)
endfunction()

# nodestart_json_append(JSON_VAR ARRAY ELEMENT): ELEMENT appended to the document's ARRAY.
function(nodestart_json_append json array element)
  string(JSON length LENGTH "${${json}}" ${array})
  string(JSON result SET "${${json}}" ${array} ${length} "${element}")
  set(${json} "${result}" PARENT_SCOPE)
endfunction()

file(STRINGS /etc/os-release codename REGEX "^VERSION_CODENAME=")
string(REPLACE "VERSION_CODENAME=" "" codename "${codename}")
string(TIMESTAMP created "%Y-%m-%dT%H:%M:%SZ" UTC)  # SOURCE_DATE_EPOCH's in a release

set(document "{}")
string(JSON document SET "${document}" spdxVersion [["SPDX-2.3"]])
string(JSON document SET "${document}" dataLicense [["CC0-1.0"]])
string(JSON document SET "${document}" SPDXID [["SPDXRef-DOCUMENT"]])
get_filename_component(document_name ${CPACK_NODESTART_SBOM_FILE} NAME_WLE)
get_filename_component(document_name ${document_name} NAME_WLE)
string(JSON document SET "${document}" name "\"${document_name}\"")
string(JSON document SET "${document}" creationInfo
       "{\"created\": \"${created}\", \"creators\": [\"Organization: ${CPACK_PACKAGE_VENDOR}\", \"Tool: CMake-${CMAKE_VERSION}\"]}")
string(JSON document SET "${document}" packages "[]")
string(JSON document SET "${document}" files "[]")
string(JSON document SET "${document}" relationships "[]")

nodestart_json_append(document packages "{
  \"SPDXID\": \"SPDXRef-Package-nodestart\", \"name\": \"nodestart\",
  \"versionInfo\": \"${CPACK_PACKAGE_VERSION}\", \"supplier\": \"Organization: ${CPACK_PACKAGE_VENDOR}\",
  \"downloadLocation\": \"NOASSERTION\", \"filesAnalyzed\": false,
  \"licenseConcluded\": \"MIT\", \"licenseDeclared\": \"MIT\", \"copyrightText\": \"NOASSERTION\",
  \"primaryPackagePurpose\": \"APPLICATION\"}")
nodestart_json_append(document relationships "{\"spdxElementId\": \"SPDXRef-DOCUMENT\",
  \"relationshipType\": \"DESCRIBES\", \"relatedSpdxElement\": \"SPDXRef-Package-nodestart\"}")

set(declared "")
set(all_parts "")
set(staged_programs "")
set(bundled "")
set(sources "")
set(checksums "")
foreach(program IN LISTS CPACK_NODESTART_PROGRAMS)
  set(staged ${CPACK_NODESTART_PROGRAM_DIR}${program}${CPACK_NODESTART_PROGRAM_SUFFIX})
  if(NOT EXISTS ${CPACK_TEMPORARY_DIRECTORY}/${staged})
    message(FATAL_ERROR "${staged} is not among the files packed")
  endif()
  file(SHA1 ${CPACK_TEMPORARY_DIRECTORY}/${staged} sha1)
  file(SHA256 ${CPACK_TEMPORARY_DIRECTORY}/${staged} sha256)
  string(APPEND checksums "${sha256}")
  nodestart_spdx_id(file_id File ${program})
  nodestart_json_append(document files "{
    \"SPDXID\": \"${file_id}\", \"fileName\": \"./${staged}\", \"fileTypes\": [\"BINARY\"],
    \"checksums\": [{\"algorithm\": \"SHA1\", \"checksumValue\": \"${sha1}\"},
                    {\"algorithm\": \"SHA256\", \"checksumValue\": \"${sha256}\"}],
    \"licenseConcluded\": \"NOASSERTION\", \"copyrightText\": \"NOASSERTION\"}")
  nodestart_json_append(document relationships "{\"spdxElementId\": \"SPDXRef-Package-nodestart\",
    \"relationshipType\": \"CONTAINS\", \"relatedSpdxElement\": \"${file_id}\"}")

  nodestart_static_parts(parts ${CPACK_NODESTART_MAP_DIR}/${program}.map)
  list(APPEND all_parts ${parts})
  list(APPEND staged_programs ${staged})
  foreach(part IN LISTS parts)
    string(REPLACE "|" ";" part "${part}")
    list(GET part 0 project)
    nodestart_spdx_id(part_id Package ${project})
    if(NOT project IN_LIST declared)
      list(APPEND declared ${project})
      list(GET part 1 license)
      list(GET part 2 package)
      list(GET part 3 version)
      list(GET part 4 architecture)
      list(GET part 5 source)
      list(GET part 6 source_version)
      string(REPLACE "+" "%2B" purl_version "${version}")
      nodestart_json_append(document packages "{
        \"SPDXID\": \"${part_id}\", \"name\": \"${project}\", \"versionInfo\": \"${version}\",
        \"supplier\": \"Organization: Debian\", \"downloadLocation\": \"NOASSERTION\",
        \"filesAnalyzed\": false, \"licenseConcluded\": \"NOASSERTION\",
        \"licenseDeclared\": \"${license}\", \"copyrightText\": \"NOASSERTION\",
        \"sourceInfo\": \"in Debian's package ${package} ${version}, the code of Debian's source package ${source} ${source_version}\",
        \"primaryPackagePurpose\": \"LIBRARY\",
        \"externalRefs\": [{\"referenceCategory\": \"PACKAGE-MANAGER\", \"referenceType\": \"purl\",
          \"referenceLocator\": \"pkg:deb/debian/${package}@${purl_version}?arch=${architecture}&distro=${codename}\"}]}")
      nodestart_upstream_version(upstream ${version})
      list(APPEND bundled "bundled(${project}) = ${upstream}")
      list(APPEND sources "${source} (= ${source_version})")
      if(license MATCHES "LicenseRef-gdtoa")
        # Its license has no SPDX name: its text, as the package's copyright file has it.
        file(READ /usr/share/doc/${package}/copyright notice)
        string(REGEX MATCH "\nLicense: Lucent\n( [^\n]*\n)+" text "${notice}")
        string(REGEX REPLACE "^\nLicense: Lucent\n" "" text "${text}")
        string(REGEX REPLACE "\n [.]?" "\n" text "\n${text}")
        string(STRIP "${text}" text)
        string(REPLACE "\\" "\\\\" text "${text}")
        string(REPLACE "\"" "\\\"" text "${text}")
        string(REPLACE "\n" "\\n" text "${text}")
        string(JSON document SET "${document}" hasExtractedLicensingInfos "[{
          \"licenseId\": \"LicenseRef-gdtoa\", \"name\": \"gdtoa (Lucent)\",
          \"extractedText\": \"${text}\"}]")
      endif()
    endif()
    nodestart_json_append(document relationships "{\"spdxElementId\": \"${file_id}\",
      \"relationshipType\": \"STATIC_LINK\", \"relatedSpdxElement\": \"${part_id}\"}")
  endforeach()
endforeach()

# The notices of the parts, where the package keeps its copyright.
list(REMOVE_DUPLICATES all_parts)
list(JOIN staged_programs " " staged_programs)
# The GNU licenses' texts where there is no /usr/share/common-licenses: in the RPM and the zip.
set(texts ON)
if(CPACK_GENERATOR STREQUAL "DEB")
  set(texts OFF)
endif()
nodestart_write_notices(${CPACK_TEMPORARY_DIRECTORY}/${CPACK_NODESTART_NOTICES} "${staged_programs}"
                        ${CPACK_RESOURCE_FILE_LICENSE} "${all_parts}" ${texts})

# Unique for each set of programs, and the same for the same programs.
string(SHA256 namespace_key "${document_name}${checksums}")
string(JSON document SET "${document}" documentNamespace
       "\"https://spdx.org/spdxdocs/${document_name}-${namespace_key}\"")
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${CPACK_NODESTART_SBOM_FILE} "${document}\n")

list(JOIN bundled ", " CPACK_RPM_PACKAGE_PROVIDES)
# The RPM's license is that of everything in it.
set(licenses MIT)
foreach(part IN LISTS all_parts)
  string(REPLACE "|" ";" part "${part}")
  list(GET part 1 license)
  list(APPEND licenses "${license}")
endforeach()
list(REMOVE_DUPLICATES licenses)
list(JOIN licenses " AND " CPACK_RPM_PACKAGE_LICENSE)
list(REMOVE_DUPLICATES sources)
list(SORT sources)
list(JOIN sources ", " CPACK_NODESTART_STATIC_BUILT_USING)
