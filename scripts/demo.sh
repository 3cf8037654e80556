#!/bin/sh
# demo.sh BUILD -- the main job: a light show from music, shown in the
# simulator. glimhost plays the built-in music through the pattern plug-in,
# whose light server publishes on port 7878; hallsim subscribes and draws
# the hallway in a window. Without a display (DISPLAY unset) it runs under
# a private Xvfb for DEMO_SECONDS (default 20) and saves a screenshot.
# Until the player and simulator are built it falls back to the test feed
# shown in the terminal view.
build=${1:-build}
bin="$build/bin"
seconds=${DEMO_SECONDS:-20}
pids=""
xvfb=""
# The programs first, the private X server (if any) last, so that nothing
# loses its display while it is still running.
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null; done
    for p in $pids; do wait "$p" 2>/dev/null; done
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT INT TERM

if [ -x "$bin/glimhost" ] && [ -x "$bin/hallsim" ]; then
    headless=0
    if [ -z "$DISPLAY" ]; then
        headless=1
        fifo=$(mktemp -u); mkfifo "$fifo"
        Xvfb -displayfd 5 -screen 0 1024x768x24 +extension GLX -nolisten tcp -noreset 5>"$fifo" 2>/dev/null &
        xvfb=$!
        read -r dnum < "$fifo"; rm -f "$fifo"
        export DISPLAY=":$dnum"
        echo "no display: running under Xvfb on $DISPLAY for $seconds s"
    fi
    # Headless there is nobody to listen: play the music silently.
    if [ $headless -eq 1 ]; then "$bin/glimhost" --mute & else "$bin/glimhost" & fi
    pids="$pids $!"
    sleep 1
    (cd "$bin" && exec ./hallsim --window) &
    simpid=$!
    pids="$pids $simpid"
    if [ $headless -eq 1 ]; then
        sleep "$seconds"
        shot="$build/demo-screenshot.png"
        xwd -root -display "$DISPLAY" | convert xwd:- -crop 640x480+0+0 "$shot" &&
            echo "screenshot of the simulator: $shot"
    else
        echo "walk with the arrow keys and the mouse; Escape ends the show"
        wait $simpid
    fi
else
    echo "test feed on port 7878, shown in the terminal view (Ctrl-C ends)"
    "$bin/testfeed" --port 7878 --rate 30 --hold 8 walk > /dev/null &
    pids="$pids $!"
    if [ -t 1 ]; then
        "$bin/hallview" --port 7878
    else
        "$bin/hallview" --port 7878 --frames "$((seconds * 30))"
    fi
fi
