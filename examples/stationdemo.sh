#!/usr/bin/env bash
# The station's main job, end to end, for a newcomer to watch: scannersim
# plays the scanner on a pseudo-terminal, markfeed downloads the sample form
# and scans the sample batch, and every key the run waits for is <ENTER>.
#   examples/stationdemo.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
work=$(cd "${2:?work directory}" && pwd)
cd "$(dirname "$0")"
# markfeed's port name is the device path without its first five
# characters, so the scanner's link sits directly under /tmp.
device=/tmp/ttyDEMO$$
cp demo.dlf demo.rtp "$work"/

echo "Starting scannersim $device"
"$build"/scannersim/scannersim --pty --link "$device" --deck batch.deck \
    --transcript "$work"/scanner-transcript.txt --sheets "$work"/scanner-sheets.txt \
    >"$work"/scanner.out &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -qx ready "$work"/scanner.out && break; sleep 0.05; done

echo
echo "Running: markfeed -d $device -l $work -f demo -m 12 -x"
printf '\r%.0s' $(seq 50) >"$work"/keys
# The operator's message line: each message ends with a carriage return.
set +e
(cd "$work" && "$build"/markfeed/markfeed -d "$device" -l "$work" -f demo -m 12 -x \
    <keys 2>&1 >/dev/null) | tr '\r' '\n' | sed -E 's/^ +//; s/ +$//; /^$/d; s/^/  operator sees: /'
status=${PIPESTATUS[0]}
set -e
echo
echo "markfeed exit status: $status"

# The scanner writes its sheets file when it stops.
kill $sim
wait $sim || true
echo
echo "Data output file $work/SCAN.DAT: $(wc -c <"$work"/SCAN.DAT) bytes"
while IFS= read -r line; do
    line=${line%$'\r'}
    printf '  %4d characters: %.13s ... [%s]\n' "${#line}" "$line" "${line: -27}"
done <"$work"/SCAN.DAT
echo
echo "Sheets as the scanner saw them ($work/scanner-sheets.txt):"
cat "$work"/scanner-sheets.txt
echo
echo "The trace is $work/scantest.log; the scanner's transcript $work/scanner-transcript.txt."
[ "$status" -eq 0 ]
