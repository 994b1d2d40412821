#!/usr/bin/env bash
# The include check over small planted trees: a stand-in may include the
# wire formats it shares with a plug-in, and is refused the plug-in's own
# code; a library layer may not include a stand-in.
#   check_layers_test.sh CMAKE CHECK_LAYERS_SCRIPT
set -uo pipefail
cmake=$1 script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# plant NAME FILE INCLUDE: a tree of its own with one source.
plant() {
  mkdir -p "$work/$1/$(dirname "$2")"
  printf '#include "%s"\n' "$3" >"$work/$1/$2"
}
check() { # check NAME EXPECTED(pass|fail) [MESSAGE]
  local out status
  out=$("$cmake" -DSOURCE_DIR="$work/$1" -P "$script" 2>&1)
  status=$?
  if [ "$2" = pass ] && ((status != 0)); then
    echo "FAIL $1: refused: $out"
    failures=$((failures + 1))
  elif [ "$2" = fail ] && { ((status == 0)) || ! grep -qF "$3" <<<"$out"; }; then
    echo "FAIL $1: expected a refusal naming '$3': $out"
    failures=$((failures + 1))
  fi
}

plant packet sim/lumidigm/a.cc plugins/lumidigm/v100/packet.h
check packet pass
plant records sim/virdi/a.cc plugins/virdi/ucbiobsp.h
check records pass
plant interface sim/plugins/a.cc plugins/interface/vxr_plugin.h
check interface pass
plant front sim/lumidigm/a.cc plugins/lumidigm/front/lumidigm_front.h
check front fail "sim/lumidigm/a.cc: sim/ may not include plugins/lumidigm/front/lumidigm_front.h"
plant execute sim/lumidigm/a.cc plugins/lumidigm/v100/execute.h
check execute fail "may not include plugins/lumidigm/v100/execute.h"
plant prefix sim/lumidigm/a.cc plugins/lumidigm/v100/packet.hpp
check prefix fail "may not include plugins/lumidigm/v100/packet.hpp"
plant upward capture/a.cc sim/plugins/x.h
check upward fail "capture/a.cc: capture/ may not include sim/plugins/x.h"

((failures == 0)) && echo "every planted include judged as declared"
exit $((failures != 0))
