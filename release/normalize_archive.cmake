# CPack runs this after packing: the archive is made the same for every build of one commit,
# and SHA256SUMS beside it gives its hash.
# CPack's ZIP (libarchive) records what the build machine did: each entry's modification time
# from the staged file, as DOS time in the local time zone and as a UTC extra field, the
# builder's uid and gid in another extra field, and permissions from the umask. CMake has no
# setting for these in ZIP, so strip-nondeterminism rewrites the archive: entries sorted by
# name, every time the release's (read back here in UTC), uid and gid 0, permissions 644 (755
# for folders and programs with their owner's execute bit). It copies the compressed data as is.
file(STRINGS ${CPACK_RELEASE_SOURCE_DATE_FILE} epoch LIMIT_COUNT 1)
find_program(STRIP_NONDETERMINISM strip-nondeterminism)
if(NOT STRIP_NONDETERMINISM)
  message(FATAL_ERROR "strip-nondeterminism is missing (Debian package strip-nondeterminism; "
                      "scripts/bootstrap installs it): the archive would carry this build's "
                      "times and owner")
endif()
set(ENV{TZ} UTC)
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${STRIP_NONDETERMINISM} --type zip --timestamp ${epoch} ${archive}
                  COMMAND_ERROR_IS_FATAL ANY)
  file(SHA256 ${archive} hash)
  get_filename_component(name ${archive} NAME)
  file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${hash}  ${name}\n")
endforeach()
