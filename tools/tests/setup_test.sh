#!/usr/bin/env bash
# The tools' shared set-up (tools/lib/setup.sh) over stand-in dpkg-query,
# apt-get and javac on the path: what it installs, when it touches apt at all,
# that failures reach the caller, and where JAVA_HOME comes from.
set -uo pipefail
setup=$(cd "$(dirname "$0")/../lib" && pwd)/setup.sh
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/jdk/bin"

# dpkg-query answers "installed" for the packages listed in $work/installed;
# apt-get appends its arguments to $work/apt and fails its install when
# $work/apt-fails exists.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
for last; do :; done
grep -qx "$last" "$WORK/installed" && printf 'install ok installed'
exit 0
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "$*" >>"$WORK/apt"
[ "$1" = install ] && [ -e "$WORK/apt-fails" ] && exit 100
exit 0
STUB
printf '#!/bin/sh\n' >"$work/jdk/bin/javac"
chmod +x "$work/bin/"* "$work/jdk/bin/javac"
export WORK=$work

failures=0
check() { # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

# install_missing: name, packages installed, packages asked for, whether apt
# fails, then the expected status and apt calls (";"-separated).
while IFS='|' read -r name installed asked fails status calls; do
  printf '%s\n' $installed >"$work/installed"
  rm -f "$work/apt" "$work/apt-fails"
  [ "$fails" = yes ] && touch "$work/apt-fails"
  # shellcheck disable=SC2086
  (PATH=$work/bin:$PATH; . "$setup"; install_missing $asked) >/dev/null
  check "$name: status" "$status" "$?"
  check "$name: apt calls" "$calls" "$(paste -sd';' "$work/apt" 2>/dev/null)"
done <<'CASES'
all there, apt untouched|a b c|a b c|no|0|
only the missing|a|a b c|no|0|update -qq;install -y -qq --no-install-recommends b c
install fails|a|a b|yes|100|update -qq;install -y -qq --no-install-recommends b
CASES

# export_java_home.
actual=$(cd / && PATH=$work/bin:/usr/bin:/bin JAVA_HOME=/given && . "$setup" &&
  export_java_home && echo "$JAVA_HOME $PWD")
check "a JAVA_HOME given is kept; sourcing moves to the root" "/given $root" "$actual"
ln -s "$work/jdk/bin/javac" "$work/bin/javac"
actual=$(unset JAVA_HOME; PATH=$work/bin:/usr/bin:/bin; . "$setup" && export_java_home &&
  bash -c 'echo "$JAVA_HOME"')
check "JAVA_HOME from the javac on the path, exported" "$(readlink -f "$work/jdk")" "$actual"
rm "$work/bin/javac"
actual=$(unset JAVA_HOME; PATH=$work/bin; . "$setup"; export_java_home 2>&1; echo "status $?")
check "no javac" "no javac on the path: install a JDK or set JAVA_HOME
status 1" "$actual"

((failures == 0)) && echo "all cases passed"
exit $((failures != 0))
