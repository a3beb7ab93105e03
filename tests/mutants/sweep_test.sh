#!/usr/bin/env bash
# The sweep on a tiny tree of its own: a fault beside a flaky test, one a test catches, one no test
# sees, one that does not compile unannounced and one whose entry says so, each with its verdict.
#   sweep_test.sh RUN_MUTANTS WORK
set -euo pipefail
sweep=$1 work=$2
source "$(dirname "$0")/../lib/fail.sh"
rm -rf "$work"
mkdir -p "$work/tree"
cd "$work/tree"

cat >CMakeLists.txt <<'TXT'
cmake_minimum_required(VERSION 3.20)
project(tiny CXX)
enable_testing()
add_executable(calc calc.cpp)
add_test(NAME sums COMMAND calc)
set_tests_properties(sums PROPERTIES LABELS unit)
add_test(NAME flaky COMMAND sh ${CMAKE_SOURCE_DIR}/flaky.sh ${CMAKE_BINARY_DIR}/flaky.runs)
TXT
cat >calc.cpp <<'TXT'
// adds two numbers
int add(int a, int b) { return a + b; }
int unused() { return 7; }
int main() { return add(2, 2) == 4 ? 0 : 1; }
TXT
# Fails by chance on its 2nd run (the first fault) and on its 4th to 6th (the second fault, then
# its run again with the fault in and on the restored tree); 1st: the unchanged tree.
cat >flaky.sh <<'TXT'
echo x >>"$1"
case $(wc -l <"$1") in 2|4|5|6) exit 1 ;; esac
TXT
cat >faults.txt <<'TXT'
== a comment changed, beside a test that fails once by chance
file: calc.cpp
find:
| // adds two numbers
replace:
| // adds numbers

== a comment changed, beside a test that fails three times by chance
file: calc.cpp
find:
| int main() {
replace:
| int main() { /* the check */

== the sum turned into a difference
file: calc.cpp
find:
| return a + b;
replace:
| return a - b;

== a function no test calls
file: calc.cpp
find:
| return 7;
replace:
| return 8;

== a typo
file: calc.cpp
find:
| int main()
replace:
| int main(int

== a typo the entry owns up to
file: calc.cpp
find:
| int unused()
replace:
| int unused(
builds: no

== text no longer there
file: calc.cpp
find:
| return 9;
replace:
| return 10;
TXT
git init -q .

status=0
"$sweep" --targets calc "$work/tree" faults.txt "$work/sweep" >"$work/out.txt" 2>&1 || status=$?
cat "$work/out.txt"
verdict() {  # verdict NUMBER TEXT: the line after fault NUMBER's head holds TEXT
    grep -A1 -F "[$1/7]" "$work/out.txt" | tail -1 | grep -qF -- "$2" || fail "fault $1: no '$2'"
}
verdict 1 "flaky failed, then passed with the fault still in"
verdict 2 "flaky failed on the restored tree too"
verdict 3 "caught by sums"
verdict 4 "MISSED"
verdict 5 "the build failed"
verdict 6 "caught by the compiler"
verdict 7 "stale"
[ "$(tail -1 "$work/out.txt")" = "2 caught, 1 missed, 1 stale, 3 errors" ] || fail "last line"
[ "$status" = 1 ] || fail "exit status $status, want 1"

# A sweep stopped with a fault in leaves it in the copy, built: the next sweep's copy must rebuild
# the file it puts back, though root's file is older than that build.
sed -i 's/return a + b;/return a - b;/' "$work/sweep/src/calc.cpp"
cmake --build "$work/sweep/build" >/dev/null
sed -n '/^== the sum turned/,/^$/p' faults.txt >one-fault.txt
"$sweep" --targets calc "$work/tree" one-fault.txt "$work/sweep" >"$work/again.txt" 2>&1 ||
    { cat "$work/again.txt"; fail "the sweep after a stopped one"; }
[ "$(tail -1 "$work/again.txt")" = "1 caught, 0 missed, 0 stale, 0 errors" ] || fail "again: last line"
echo "PASS"
