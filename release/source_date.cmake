# The time and commit a build is made from, so that every build of one commit gives the same
# bytes; run at every build (the target source_date), by cmake -P:
#   -DSOURCE_DIR=... -DOUTPUT_DIR=... [-DVERSION=... -DREADME_IN=... -DREADME_OUT=...]
# The time is SOURCE_DATE_EPOCH from the environment, else the time of the commit checked out in
# SOURCE_DIR, else that of release/source_commit.txt as git archive fills it in for a source
# archive ("<commit> <time>"). Without a commit (no git checkout, an unfilled source_commit.txt)
# SOURCE_DATE_EPOCH must be set, or the build stops here.
# Writes into OUTPUT_DIR source_date_epoch.txt (the time, which the link of every shipped binary
# reads) and source_commit.txt (the commit and the time, in source_commit.txt's own form, for a
# copy of the sources without git), and README_OUT from README_IN: each rewritten only when its
# content changes, so that nothing is relinked or repacked for nothing.

set(commit "")
set(epoch "")

# A git checkout whose top is SOURCE_DIR itself, not a repository that happens to hold a copy.
find_program(GIT git)
if(GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --show-toplevel HEAD
                  OUTPUT_VARIABLE git_lines RESULT_VARIABLE git_status ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(git_status EQUAL 0)
    string(REPLACE "\n" ";" git_lines "${git_lines}")
    list(GET git_lines 0 git_top)
    file(REAL_PATH ${SOURCE_DIR} source_real)
    file(REAL_PATH ${git_top} git_top_real)
    if(git_top_real STREQUAL source_real)
      list(GET git_lines 1 commit)
      execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} log -1 --format=%ct ${commit}
                      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
  endif()
endif()
if(commit STREQUAL "")
  file(STRINGS ${SOURCE_DIR}/release/source_commit.txt archived LIMIT_COUNT 1)
  if(archived MATCHES "^([0-9a-f]+) ([0-9]+)$")
    set(commit ${CMAKE_MATCH_1})
    set(epoch ${CMAKE_MATCH_2})
  endif()
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${epoch}\": it must be seconds since 1970")
  endif()
  if(commit STREQUAL "")
    set(commit "unknown (built outside a git checkout)")
  endif()
elseif(commit STREQUAL "")
  message(FATAL_ERROR "${SOURCE_DIR} is no git checkout, and its release/source_commit.txt was "
                      "not filled in by git archive: the build cannot tell the commit's time, "
                      "which every shipped binary carries. Set SOURCE_DATE_EPOCH (seconds since "
                      "1970, for instance the commit's time from git log -1 --format=%ct).")
endif()

function(write_if_changed file content)
  if(EXISTS ${file})
    file(READ ${file} old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE ${file} "${content}")
endfunction()

write_if_changed(${OUTPUT_DIR}/source_date_epoch.txt "${epoch}\n")
write_if_changed(${OUTPUT_DIR}/source_commit.txt "${commit} ${epoch}\n")

if(DEFINED README_IN)
  # string(TIMESTAMP) tells SOURCE_DATE_EPOCH's time when it is set.
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  string(TIMESTAMP RELEASE_DATE "%Y-%m-%d %H:%M:%S UTC" UTC)
  set(RELEASE_COMMIT ${commit})
  set(RELEASE_EPOCH ${epoch})
  set(PROJECT_VERSION ${VERSION})
  # configure_file leaves an unchanged file alone.
  configure_file(${README_IN} ${README_OUT} @ONLY NEWLINE_STYLE CRLF)
endif()
