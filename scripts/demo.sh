#!/usr/bin/env bash
# The demo loop: builds the looper, writes a set of radar-like frames with the
# project's own GIF writer, starts zorazez on them (under a private Xvfb when
# no DISPLAY is set), labels every frame with its time, a station and the
# storm's track through the drawing commands, drives the loop with animctl
# and saves frames as PNG.
#
# Environment: DEMO_DIR (output, default ./demo-out), DEMO_WINDOW (window
# number, default 750), DEMO_SECONDS (how long the loop runs at the end,
# default 20 with a display of your own, 3 under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target zorazez animctl demo_frames

out=${DEMO_DIR:-$PWD/demo-out}
win=${DEMO_WINDOW:-750}
rm -rf "$out"
mkdir -p "$out/frames" "$out/saved"

echo "== writing 16 frames of 640x512 into $out/frames"
build/bin/demo_frames "$out/frames" 16 >"$out/frames.txt"

xvfb_pid=
looper_pid=
cleanup() {
  [ -n "$looper_pid" ] && kill "$looper_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

seconds=${DEMO_SECONDS:-20}
if [ -z "${DISPLAY:-}" ]; then
  exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
  xvfb_pid=$!
  read -r -t 10 number <&3
  export DISPLAY=:$number
  seconds=${DEMO_SECONDS:-3}
  echo "== no DISPLAY: running under Xvfb on $DISPLAY"
fi

echo "== starting zorazez on window $win"
build/bin/zorazez -wn "W$win" -fp "$out" -ti "Demo_radar_loop" "$out"/frames/*.gif \
  >"$out/zorazez.log" 2>&1 &
looper_pid=$!
for _ in $(seq 50); do
  [ -s "$out/zorazez.$win" ] && break
  sleep 0.2
done
if [ ! -s "$out/zorazez.$win" ]; then
  echo "zorazez did not start; its output:"; cat "$out/zorazez.log"; exit 1
fi
echo "window information line: $(cat "$out/zorazez.$win")"

ctl() {
  echo "\$ animctl -wn $win $*"
  build/bin/animctl -wn "$win" "$@" | sed 's/^/  /'
}
ctl qu num

echo "== drawing on every frame: its time, station OKX and the storm's track"
ctl "se te co yellow;se te he 14;se ma co white;se ma st circle;se ma si 1;se li co red;se li st dash"
frame=0
while read -r _ time; do
  ctl "se dr $frame;te 320,24 $time UTC;ma 470,330 x;te 470,310 OKX;li 100,400 540,120"
  frame=$((frame + 1))
done <"$out/frames.txt"
ctl se de 0.15
ctl se pa 1.0
ctl start
sleep 2
ctl se di al
sleep 2
ctl stop
ctl step
ctl step
ctl go 5
ctl se out png
ctl sa all "@$out/saved/demo_%i.png"
ctl sa wi "@$out/saved/window.png"
ctl se de 0.1
ctl start
echo "== looping for $seconds s"
sleep "$seconds"
ctl kill
wait "$looper_pid" || true
looper_pid=
build/bin/animctl -wn "$win" clean >/dev/null 2>&1 || true

echo "== saved files in $out/saved:"
ls "$out/saved"
