#!/bin/sh
# Fails when an object file's code calls anything: the library's own memset and memcpy must
# be plain loops, never calls (to themselves).   check_no_calls.sh OBJDUMP OBJECT...
objdump=$1
shift
calls=$("$objdump" -d "$@" | grep -E '[[:space:]]call[lq]?[[:space:]]' || true)
if [ -n "$calls" ]; then
    echo "the no-runtime memset/memcpy call out (is -fno-tree-loop-distribute-patterns lost?):" >&2
    echo "$calls" >&2
    exit 1
fi
