#!/usr/bin/env bash
# The built tool as the README gives it: run from another folder with no
# library folder set, it extracts a picture with the open engine that lies
# beside the built libdactyra.so and shows the template it wrote.
#   built_tool_test.sh TOOL PICTURE WORK
set -euo pipefail
tool=$1 picture=$2 work=$3
rm -rf "$work"
mkdir -p "$work/out" "$work/elsewhere"
cd "$work/elsewhere"
unset DACTYRA_LIBRARY_DIR DACTYRA_MODULE_PATH LD_LIBRARY_PATH
"$tool" extract "$picture" --out "$work/out"
template=$work/out/$(basename "${picture%.*}").tpl
[ -s "$template" ] || { echo "FAIL: no template $template"; exit 1; }
shown=$("$tool" show "$template")
grep -qi 'minuti' <<<"$shown" || { echo "FAIL: show printed no minutiae: $shown"; exit 1; }
echo "extracted and shown: $(head -n 1 <<<"$shown")"
