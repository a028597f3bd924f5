#!/usr/bin/env bash
# Every test: installs what is missing, then builds and runs the tests of
# each build — Linux, Linux with AddressSanitizer+UBSan, Linux with
# ThreadSanitizer, the Windows build under Wine, and the fuzz build, whose
# tests fuzz every reader of outside input for a short while.
#   ./test.sh                 all five
#   ./test.sh linux windows   only these
# The Linux and Windows builds are made before any test runs: tests of each
# drive programs of the other (the Windows probes from the Linux tests, the
# Linux device simulator from the Windows end-to-end tests).
set -uo pipefail
cd "$(dirname "$0")"
scripts/install-deps || exit 1
scripts/check-format || exit 1

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan linux-tsan windows fuzz)

build() {
  echo "=== $1: configure and build"
  cmake --preset "$1" >/dev/null || return 1
  cmake --build --preset "$1" -- -j2 | grep -vE '^\[[0-9]+/[0-9]+\] '
  [ "${PIPESTATUS[0]}" -eq 0 ]
}

declare -A built
for preset in linux windows; do
  if [[ " ${presets[*]} " == *" $preset "* ]] || [[ " ${presets[*]} " == *" windows "* && $preset == linux ]]; then
    if build "$preset"; then built[$preset]=ok; else built[$preset]=failed; fi
  fi
done
if [ "${built[windows]:-}" = ok ]; then
  echo "=== preparing the Wine prefix"
  scripts/wine-prefix >/dev/null || built[windows]=failed
fi

summary=()
failed=0
mkdir -p build
for preset in "${presets[@]}"; do
  log="build/$preset-ctest.log"
  rm -f "$log"
  status=ok
  if [ -z "${built[$preset]:-}" ]; then
    build "$preset" && built[$preset]=ok || built[$preset]=failed
  fi
  if [ "${built[$preset]}" = ok ]; then
    echo "=== $preset: tests"
    # One Wine server for the whole Windows run, so programs that start at
    # the same moment never race to start it.
    [ "$preset" != windows ] || (source scripts/wine-env && wineserver -p)
    scripts/with-display ctest --preset "$preset" 2>&1 | tee "$log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=FAILED
    [ "$preset" != windows ] || (source scripts/wine-env && wineserver -k) || true
  else
    status="BUILD FAILED"
  fi
  [ "$status" = ok ] || failed=1
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" 2>/dev/null | tail -1)
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
