# Run by CPack once it has packed: SHA256SUMS, as sha256sum -c reads it, for every package in the
# folder (those of the cross builds are packed there before), in name order.
list(GET CPACK_PACKAGE_FILES 0 first)
get_filename_component(folder ${first} DIRECTORY)
file(GLOB packages RELATIVE ${folder} ${folder}/*.deb ${folder}/*.zip)
list(SORT packages)
set(sums "")
foreach(package IN LISTS packages)
  file(SHA256 ${folder}/${package} sum)
  string(APPEND sums "${sum}  ${package}\n")
endforeach()
file(WRITE ${folder}/SHA256SUMS "${sums}")
