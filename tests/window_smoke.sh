#!/usr/bin/env bash
# The real window under Xvfb, driven as a user would with real X key events: READ COORDINATES by
# Space, P to pause (two screenshots a moment apart are the same), N to step (the picture
# changes); V opens the picture window, where End, Home and Right jump to rows 120, 1 and 3 (both
# titles say so), the wheel zooms and F fits the picture back exactly, and a click on a bus opens
# its chart. Exits 77 (skipped) with a reason where no X server can be started here.
# Usage: window_smoke.sh UMBRASCOPE EXAMPLE_FOLDER WORK_FOLDER
set -uo pipefail
program=$1
example=$2
work=$3

skip() { echo "skipped: $*"; exit 77; }
for tool in Xvfb xdotool xwd; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (Debian packages xvfb, xdotool, x11-apps)"
done

rm -rf "$work" && mkdir -p "$work" && chmod 700 "$work"
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { kill "$xvfb" 2>/dev/null; skip "Xvfb did not start: $(tail -n 1 "$work/xvfb.log")"; }
export DISPLAY=":$(head -n 1 "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$work"

"$program" "$example" >"$work/window.log" 2>&1 &
window=$!
cleanup() { kill "$window" "$xvfb" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT
fail() { echo "FAILED: $*"; cat "$work/window.log"; exit 1; }

id=$(xdotool search --sync --onlyvisible --name "^Umbrascope" 2>/dev/null | head -n 1)
[ -n "$id" ] || fail "no Umbrascope window appeared"
xdotool windowfocus --sync "$id" 2>/dev/null
shot() { xwd -id "$id" -silent >"$work/$1.xwd"; }
title() { xdotool getwindowname "$id"; }

xdotool key space
sleep 1.2
xdotool key p
sleep 0.6
[[ "$(title)" == *"— paused"* ]] || fail "P did not pause: the title is '$(title)'"
shot paused-1
sleep 0.6
shot paused-2
cmp -s "$work/paused-1.xwd" "$work/paused-2.xwd" || fail "the picture changed while paused (see $work)"
row=$(title | sed -n 's/.*row \([0-9]*\) .*/\1/p')
xdotool key n
sleep 0.3
shot stepped
cmp -s "$work/paused-2.xwd" "$work/stepped.xwd" && fail "N did not change the picture"
[ "$(title | sed -n 's/.*row \([0-9]*\) .*/\1/p')" = "$((row + 1))" ] || fail "N did not step one row: '$(title)'"

xdotool key v
picture=$(xdotool search --sync --onlyvisible --name "Umbrascope picture" 2>/dev/null | head -n 1)
[ -n "$picture" ] || fail "V opened no picture window"
xdotool windowfocus --sync "$picture" 2>/dev/null
sleep 0.3
for jump in "End 120" "Home 1" "Right 2" "Right 3"; do
    xdotool key "${jump% *}"
    sleep 0.3
    for window in "$picture" "$id"; do
        [[ "$(xdotool getwindowname "$window")" == *"row ${jump#* } / 120"* ]] ||
            fail "${jump% *} did not show row ${jump#* }: '$(xdotool getwindowname "$window")'"
    done
done
xwd -id "$picture" -silent >"$work/fitted.xwd"
xdotool mousemove --window "$picture" 200 200 click 4 click 4 click 4
sleep 0.3
xwd -id "$picture" -silent >"$work/zoomed.xwd"
cmp -s "$work/fitted.xwd" "$work/zoomed.xwd" && fail "the wheel did not zoom"
xdotool key f
sleep 0.3
xwd -id "$picture" -silent >"$work/fitted-again.xwd"
cmp -s "$work/fitted.xwd" "$work/fitted-again.xwd" || fail "F did not fit the picture back as it was (see $work)"
echo "window smoke test passed at row 3 ($DISPLAY)"
