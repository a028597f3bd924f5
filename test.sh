#!/usr/bin/env bash
# Every test: installs what is missing, then builds and runs the tests of
# each build — Linux, Linux with AddressSanitizer+UBSan, Linux with
# ThreadSanitizer, and the Windows build under Wine.
#   ./test.sh                 all four
#   ./test.sh linux windows   only these
set -uo pipefail
cd "$(dirname "$0")"
scripts/install-deps || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan windows)

summary=()
failed=0
run_preset() {
  local preset=$1 log="build/$1-ctest.log"
  rm -f "$log"
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" -- -j2 | grep -vE '^\[[0-9]+/[0-9]+\] ' || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || return 1
  if [ "$preset" = windows ]; then
    echo "=== windows: preparing the Wine prefix"
    scripts/wine-prefix >/dev/null || return 1
  fi
  echo "=== $preset: tests"
  mkdir -p build
  scripts/with-display ctest --preset "$preset" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}

for preset in "${presets[@]}"; do
  if run_preset "$preset"; then status=ok; else status=FAILED; failed=1; fi
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "build/$preset-ctest.log" 2>/dev/null | tail -1)
  summary+=("$preset: ${line:-no test summary} [$status]")
done

echo
echo "=== Summary"
printf '%s\n' "${summary[@]}"
passed=0; fails=0
for preset in "${presets[@]}"; do
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "build/$preset-ctest.log" 2>/dev/null | tail -1)
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    fails=$((fails + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
done
echo "total: $passed passed, $fails failed"
exit $failed
