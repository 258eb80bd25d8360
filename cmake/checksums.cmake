# Run by CPack once it has packed: SHA256SUMS, as sha256sum -c reads it, in the packages' folder,
# for every package and SBOM there (those of the cross builds are packed there first) and those just made,
# which CPack moves there after this script, in name order.
set(folder ${CPACK_PACKAGE_DIRECTORY})
file(GLOB packed ${folder}/*.deb ${folder}/*.rpm ${folder}/*.zip ${folder}/*.spdx.json)
set(names "")
foreach(package IN LISTS packed CPACK_PACKAGE_FILES)
  get_filename_component(name ${package} NAME)
  list(APPEND names ${name})
  set(path_of_${name} ${package})  # one just made wins over an older one of the same name
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  file(SHA256 ${path_of_${name}} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${folder}/SHA256SUMS "${sums}")
