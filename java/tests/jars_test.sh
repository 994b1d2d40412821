#!/usr/bin/env bash
# What ships beside the Java API: dactyra.jar holds the API and no class of
# the command-line tool and names its module; dactyra-cli.jar holds only the
# tool and runs with `java -jar` beside dactyra.jar; dactyra-sources.jar has
# the source of every class of dactyra.jar; dactyra-javadoc.jar its pages.
#   jars_test.sh JAR JAVA dactyra.jar dactyra-cli.jar dactyra-sources.jar dactyra-javadoc.jar
set -uo pipefail
jar=$1 java=$2 api=$3 cli=$4 sources=$5 javadoc=$6
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

api_entries=$("$jar" --list --file "$api") || fail "cannot list $api"
cli_entries=$("$jar" --list --file "$cli") || fail "cannot list $cli"
grep -q '^br/com/tessiva/scanners/ScanImage.class$' <<<"$api_entries" || fail "no API in $api"
grep -q '^br/com/tessiva/cli/' <<<"$api_entries" && fail "$api carries the tool"
grep -q '^br/com/tessiva/cli/Dactyra.class$' <<<"$cli_entries" || fail "no tool in $cli"
grep '\.class$' <<<"$cli_entries" | grep -qv '^br/com/tessiva/cli/' && fail "$cli carries the API"

# Automatic modules of those names, usable on the module path.
"$jar" --describe-module --file "$api" | grep -q '^br\.com\.tessiva automatic$' ||
  fail "$api names no module br.com.tessiva"
"$jar" --describe-module --file "$cli" | grep -q '^br\.com\.tessiva\.cli automatic$' ||
  fail "$cli names no module br.com.tessiva.cli"
"$java" --module-path "$api:$cli" --list-modules 2>&1 | grep -q '^br\.com\.tessiva ' ||
  fail "the module path does not resolve br.com.tessiva"

# The tool's jar finds the API beside it.
help=$("$java" -jar "$cli" --help 2>&1) || fail "java -jar $(basename "$cli") --help failed: $help"
grep -q 'extract' <<<"$help" || fail "the tool's help names no extract: $help"

# A source for every top-level class of the API, and the documentation.
source_entries=$("$jar" --list --file "$sources") || fail "cannot list $sources"
for class in $(grep -E '\.class$' <<<"$api_entries" | grep -v '\$'); do
  grep -qx "${class%.class}.java" <<<"$source_entries" || fail "no source for $class"
done
grep -q '^br/com/tessiva/cli/' <<<"$source_entries" && fail "$sources carries the tool"
doc_entries=$("$jar" --list --file "$javadoc") || fail "cannot list $javadoc"
for page in index.html br/com/tessiva/scanners/ScanImage.html br/com/tessiva/images/NImage.html; do
  grep -qx "$page" <<<"$doc_entries" || fail "no $page in $javadoc"
done

((failures == 0)) && echo "the jars hold what they should"
exit $((failures != 0))
