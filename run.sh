#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the device simulator
# on COM3 and flashes it — with the dialog when a display is available (press
# "Update", close the dialog when the bar has gone), otherwise with dov-flash —
# then says in a few lines what the simulated device received, and where its
# report and the picture of every pause are.
#   ./run.sh      the verdict in words
#   ./run.sh -v   also the simulator's whole report, each late write listed
set -euo pipefail
cd "$(dirname "$0")"
verbose=""
case "${1:-}" in
  -v | --verbose) verbose=-v ;;
  "") ;;
  *) echo "usage: ./run.sh [-v]" >&2; exit 2 ;;
esac
scripts/install-deps
cmake --preset linux >/dev/null
cmake --build --preset linux -- -j2 | grep -vE '^\[[0-9]+/[0-9]+\] |^ninja: no work to do' || true
[ "${PIPESTATUS[0]}" -eq 0 ]

bin=build/linux/bin
for program in dov-devsim dov-flash; do
  if [ ! -x "$bin/$program" ]; then
    echo "Built. $program is not part of this build yet, so there is nothing to flash."
    exit 0
  fi
done

# A private DOS-device directory: the simulator links itself there as com3,
# and the updater finds COM3 through it.
export WINEPREFIX=$PWD/build/run-prefix
mkdir -p "$WINEPREFIX/dosdevices"
ready=$WINEPREFIX/devsim.ready
report=$WINEPREFIX/devsim-report.json
details=$WINEPREFIX/devsim-report.txt
picture=$WINEPREFIX/pauses.svg
writes=$WINEPREFIX/host-writes.log
rm -f "$ready" "$report" "$details" "$picture" "$writes"

# The preload library records when the updater handed each write to the
# kernel, so the simulator judges the pauses the program made, not how late
# a busy machine delivered the bytes.
preload=$PWD/build/linux/lib/libdov_ptymodem.so
record=()
host=()
if [ -e "$preload" ]; then
  record=(--host-writes "$writes")
  host=(env LD_PRELOAD="$preload" DOV_WRITE_LOG="$writes")
fi

"$bin/dov-devsim" --port 3 --timeout 120 --ready-file "$ready" \
  --report "$report" --plot "$picture" "${record[@]}" $verbose \
  >"$details" 2>"$WINEPREFIX/devsim.log" &
devsim=$!
trap 'kill $devsim 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$ready" ] && break; sleep 0.1; done
[ -e "$ready" ] || { echo "The device simulator did not start."; exit 1; }

status=0
if [ -n "${DISPLAY:-}" ] && [ -x "$bin/DOV" ] && xdpyinfo >/dev/null 2>&1; then
  echo "The dialog is open: press \"Update\" with COM 3 selected, and close the dialog when the progress bar has gone."
  "${host[@]}" "$bin/DOV" || status=$?
else
  # The simulated device is no USB device: the device console has nothing
  # to switch off and on, so the reset is left out.
  "${host[@]}" "$bin/dov-flash" --port 3 --no-reset >"$WINEPREFIX/flash-report.txt" || status=$?
  [ -z "$verbose" ] || cat "$WINEPREFIX/flash-report.txt"
fi

kill -INT $devsim 2>/dev/null || true
wait $devsim || status=$?
trap - EXIT
[ -z "$verbose" ] || { echo; cat "$details"; echo; }
scripts/describe-update "$report" "$picture" || status=$((status ? status : 1))
exit $status
