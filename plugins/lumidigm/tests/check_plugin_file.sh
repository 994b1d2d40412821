#!/bin/sh
# check_plugin_file.sh FILE NAME...: FILE needs only the C and C++ runtime
# libraries of the system and exports exactly the functions NAME...
set -eu
file=$1
shift
status=0
for needed in $(objdump -p "$file" | awk '$1 == "NEEDED" { print $2 }'); do
  case $needed in
    libc.so.* | libm.so.* | libstdc++.so.* | libgcc_s.so.* | ld-linux*.so.* | libpthread.so.* | libdl.so.*) ;;
    *) echo "$file needs $needed" >&2; status=1 ;;
  esac
done
exported=$(nm -D --defined-only "$file" | awk '$2 == "T" || $2 == "W" || $2 == "D" || $2 == "B" { print $3 }' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$exported" != "$expected" ]; then
  echo "exports differ:" >&2
  echo "$exported" | diff - "$(printf '%s\n' "$expected" > "${TMPDIR:-/tmp}/expected.$$"; echo "${TMPDIR:-/tmp}/expected.$$")" >&2 || true
  rm -f "${TMPDIR:-/tmp}/expected.$$"
  status=1
fi
exit $status
