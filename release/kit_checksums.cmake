# CPack runs this after staging the kit and before packing it: SHA256SUMS in the kit's folder
# lists the SHA-256 of every other file in it, by its path in the folder, in byte order, in
# sha256sum's form, so that "sha256sum -c SHA256SUMS" checks an unpacked kit.
set(kit ${CPACK_TEMPORARY_DIRECTORY})
file(GLOB_RECURSE files RELATIVE ${kit} LIST_DIRECTORIES false ${kit}/*)
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files COMPARE STRING CASE SENSITIVE)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${kit}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${kit}/SHA256SUMS "${sums}")
