#!/usr/bin/env bash
# Sets everything up, builds everything and runs every test: unit tests
# (plain and with sanitizers), checks of the shipped executables, fuzzing
# for a bounded time, and the end-to-end tests under Wine in Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh

failed=()
passed=0
step() {  # name, command...
  local name=$1; shift
  echo "=== $name"
  if "$@"; then echo "=== $name: ok"; passed=$((passed + 1)); else echo "=== $name: FAILED"; failed+=("$name"); fi
}

step "unit tests" ctest --test-dir build/native --output-on-failure
step "unit tests (sanitizers)" ctest --test-dir build/native-asan --output-on-failure
step "command-line tools" python3 -m unittest discover -s tests/tools -p 'test_*.py'
step "fuzzing" bash scripts/fuzz.sh
step "shipped executables" bash scripts/check-executables.sh
step "end-to-end under Wine" xvfb-run -a -s "-screen 0 1024x768x24" python3 tests/e2e/run.py

if ((${#failed[@]})); then
  echo "failed steps: ${failed[*]}"
fi
echo "test steps: $passed passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
