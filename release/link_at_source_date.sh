#!/bin/sh
# Links a shipped binary with the release's time in place of the current one: mingw-w64's ld
# writes SOURCE_DATE_EPOCH into the PE header's and the export table's time stamps.
#   link_at_source_date.sh TIME_FILE LINK COMMAND...   (CMake's linker launcher)
time_file=$1
shift
SOURCE_DATE_EPOCH=$(cat "$time_file") || exit 1
export SOURCE_DATE_EPOCH
exec "$@"
