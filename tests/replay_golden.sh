#!/bin/bash
# Replays the golden session against a fresh simulator, fast, with --expect.
#   replay_golden.sh [--via-pcapng VOLMAR_PCAPNG] VOLMARSIM VOLMAR_MACHINE CAPTURE FAULTS
#                    [EXTRA_FAULT CODE]
# With --via-pcapng the capture is first converted to pcapng and that is
# replayed. With EXTRA_FAULT (one more fault line armed) the replay must
# fail, and every difference it reports must be an answer to a frame of code
# CODE (two hex digits), one for each such frame the capture holds answered.
set -u
converter=
if [ "${1:-}" = --via-pcapng ]; then
    converter=$2
    shift 2
fi
sim=$1 machine=$2 capture=$3 faults=$4 extra=${5:-} code=${6:-}
dir=$(mktemp -d)
simpid=
cleanup() {
    [ -n "$simpid" ] && kill -TERM "$simpid" 2>/dev/null && wait "$simpid"
    rm -rf "$dir"
}
trap cleanup EXIT
cp "$faults" "$dir/faults"
played=$capture
if [ -n "$converter" ]; then
    played=$dir/capture.pcapng
    "$converter" "$capture" "$played" || { echo "cannot convert $capture" >&2; exit 1; }
fi
[ -n "$extra" ] && echo "$extra" >> "$dir/faults"

# A long reply timeout costs nothing when every answer comes, and keeps a
# busy machine's late silence NAK from reading as none.
"$machine" --pty "$dir/line" --replay "$played" --pace fast --expect --reply-timeout 5000 \
    --control "$dir/control.sock" --set-totals-first > "$dir/out" 2> "$dir/err" &
machinepid=$!
# The link appears once the pseudo-terminal is made: a generous bound.
for _ in $(seq 200); do [ -e "$dir/line" ] && break; sleep 0.05; done
"$sim" --headless --quiet --folder "$dir/sim" --port 1 --device "$dir/line" \
    --faults "$dir/faults" --control "$dir/control.sock" 2> "$dir/sim-err" &
simpid=$!
wait "$machinepid"
status=$?
cat "$dir/out"
cat "$dir/err" >&2
grep -q '^replay: ' "$dir/out" || { echo "no summary" >&2; exit 1; }
if [ -z "$extra" ]; then
    exit "$status"
fi
# The extra fault's answers, and only those, differ: one difference for
# each frame of the code (or its resend) that the capture has answered ACK.
[ "$status" -eq 1 ] || { echo "exit status $status, not 1" >&2; exit 1; }
retry=$(printf '%02X' $((0x$code | 0x80)))
differences=$(grep -c '^difference: ' "$dir/out")
others=$(grep '^difference: ' "$dir/out" | grep -Evc "  ($code|$retry) [0-9A-F ]*  captured Ack  now Esc$")
answered=$(awk -v frame="\"bytes\":\"($code|$retry) " '
    /"kind":"frame"/ { mine = $0 ~ frame; next }
    /"kind":"reply"/ { if (mine && /"byte":"06"/ && /"cause":"answer"/) n++; mine = 0 }
    END { print n + 0 }' "$capture")
echo "differences: $differences, of other frames: $others, frames $code answered ACK: $answered"
[ "$differences" -gt 0 ] && [ "$others" -eq 0 ] && [ "$differences" -eq "$answered" ]
