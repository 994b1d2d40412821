# The set-up every tools/ command shares; a command sources it first:
#
#   . "$(dirname "$0")/lib/setup.sh"
#   install_missing cmake ninja-build ...   # Debian packages it needs
#   export_java_home                        # when it builds or runs Java
#
# Sourcing moves to the repository root, so a command runs the same from any
# folder. Both functions return non-zero on failure rather than exiting, so
# a command without `set -e` can report the failure its own way.

cd "${BASH_SOURCE[0]%/*}/../.." || return 1

# install_missing PACKAGE...: installs the packages that are not installed
# yet, with one apt-get update, and only when one is missing: a machine that
# has them all is never touched (and needs no network nor root).
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "installing: ${missing[*]}"
  apt-get update -qq || return 1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# export_java_home: the JDK's headers and libjvm are found through
# JAVA_HOME; when it is unset, it is the JDK of the javac on the path.
export_java_home() {
  [ -n "${JAVA_HOME:-}" ] && return 0
  local javac
  javac=$(command -v javac) || {
    echo "no javac on the path: install a JDK or set JAVA_HOME" >&2
    return 1
  }
  JAVA_HOME=$(dirname "$(dirname "$(readlink -f "$javac")")")
  export JAVA_HOME
}
