#!/usr/bin/env bash
# Mirroring cost of the real program on a private X desktop, side by side with ffmpeg's x11grab
# of the same region in the same run:
#   - CPU of tovalo per mirrored window whose content changes every frame (~60 fps), for a
#     1280x800 and a 1920x1080 window, next to `ffmpeg -f x11grab -framerate 60` of that region;
#   - frames the overlay shows per second next to the source's repaints per second, and the
#     delay from a source repaint to the overlay's repaint, as another X client sees them;
#   - how long the overlay takes to follow a move of its source (10 moves of the 1280x800 window);
#   - CPU of tovalo while the pinned source does not change at all;
#   - resident memory of tovalo idle and with four pinned 1920x1080 windows;
#   - for comparison, the CPU of the other drawing path (frames read into the process).
# CPU is user+system time from /proc over a fixed wall-clock window, in percent of one core.
#
#   tests/bench/desktop_mirror_bench.sh [seconds-per-measurement]   (run by scripts/bench)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-10}
scripts/bootstrap bench
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/.ccache}"
cmake -S . -B build/bench-desktop -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVALO_BUILD_TESTS=ON \
    -DTOVALO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/bench-desktop -j "$(nproc)" --target tovalo tovalo_paint_client \
    tovalo_mirror_probe >/dev/null
tovalo="$PWD/build/bench-desktop/src/tovalo"
painter="$PWD/build/bench-desktop/tests/tovalo_paint_client"
probe="$PWD/build/bench-desktop/tests/tovalo_mirror_probe"

scratch=$(mktemp -d /tmp/tovalo-bench-XXXXXX)
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
exec 3< <(Xvfb -displayfd 1 -screen 0 2560x1600x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb <&3
pids+=("$xvfb")
read -r number <&3
export DISPLAY=":$number"
dbus-daemon --session --fork --print-address=4 --print-pid=5 4>"$scratch/bus" 5>"$scratch/buspid"
pids+=("$(cat "$scratch/buspid")")
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$scratch/bus")
export DBUS_SESSION_BUS_ADDRESS
wait_for() {
    for _ in $(seq 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "bench: $* never succeeded" >&2; exit 1
}
openbox --sm-disable & pids+=($!)
wait_for sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'
wait_for sh -c 'wmctrl -s 1 && xprop -root _NET_CURRENT_DESKTOP | grep -q "= 1"'
wmctrl -s 0
# The pointer rests outside every window: over an overlay it would reveal the source instead.
xdotool mousemove 2559 1599

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# Percent of one core used by each of the pids $@ over the same $seconds seconds, space-separated.
cpu_percents() {
    local before=() after=() pid i
    for pid in "$@"; do before+=("$(cpu_ticks "$pid")"); done
    sleep "$seconds"
    for pid in "$@"; do after+=("$(cpu_ticks "$pid")"); done
    for i in "${!before[@]}"; do
        awk -v d=$((after[i] - before[i])) -v t="$ticks" -v s="$seconds" -v sep=$((i > 0)) \
            'BEGIN {printf "%s%.1f", sep ? " " : "", 100 * d / t / s}'
    done
    echo
}
minus() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", a - b}'; }
rss_mb() { awk '/VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
window_of() {  # client window of pid $1
    wait_for sh -c "xdotool search --pid $1 | head -n1"
    xdotool search --pid "$1" | head -n1
}

# Starts a source of size $1 that repaints at ~60 fps and pins it. Sets p and id, x0 (the X server
# drawing the source alone), then t and x1 (tovalo and the X server while it is mirrored).
mirror_source() {
    "$painter" --size "$1" --position 0,0 --interval-ms 16 & p=$!; pids+=("$p")
    id=$(window_of "$p")
    sleep 1
    read -r x0 <<<"$(cpu_percents "$xvfb")"
    "$tovalo" ctl pin "$id" >/dev/null
    sleep 2
    read -r t x1 <<<"$(cpu_percents "$tv" "$xvfb")"
}
end_source() {
    "$tovalo" ctl unpin-all >/dev/null
    kill "$p"; wait "$p" 2>/dev/null || true
}

"$tovalo" & tv=$!; pids+=("$tv")
wait_for "$tovalo" ctl status
sleep 2
printf 'tovalo idle: %s%% CPU, %s MB resident\n' "$(cpu_percents "$tv")" "$(rss_mb "$tv")"
echo "repaint delay: from the latest source repaint before each overlay repaint to that one, timed by" \
    "the arrival of DAMAGE events at one X client; it includes the overlay's capture pacing and main-thread" \
    "hop, not the display's scan-out"

for size in 1280x800 1920x1080; do
    mirror_source "$size"
    "$tovalo" ctl unpin-all >/dev/null
    sleep 1
    ffmpeg -loglevel quiet -f x11grab -framerate 60 -video_size "$size" -i "$DISPLAY+0,0" \
        -f null - & ff=$!; pids+=("$ff")
    sleep 2
    read -r f x2 <<<"$(cpu_percents "$ff" "$xvfb")"
    kill "$ff"; wait "$ff" 2>/dev/null || true
    printf '%s changing at ~60 fps: tovalo %s%% CPU, X server +%s%% for it; ffmpeg x11grab 60 fps' \
        "$size" "$t" "$(minus "$x1" "$x0")"
    printf ' %s%% CPU, X server +%s%% for it (X server drawing the source alone: %s%%)\n' \
        "$f" "$(minus "$x2" "$x0")" "$x0"
    "$tovalo" ctl pin "$id" >/dev/null
    sleep 2
    shown=$("$probe" frames --source "$id" --seconds "$seconds") || shown="probe failed"
    printf '%s mirrored: %s\n' "$size" "$shown"
    if [[ "$size" == 1280x800 ]]; then
        # The overlay moves with each configure event; capture restarts 0.2 s after the last move.
        moved=$("$probe" follow --source "$id" --moves 10) || moved="probe failed"
        printf '%s moved: %s\n' "$size" "$moved"
    fi
    end_source
done

"$painter" --size 1920x1080 --position 0,0 & p=$!; pids+=("$p")
"$tovalo" ctl pin "$(window_of "$p")" >/dev/null
sleep 2
printf '1920x1080 not changing: tovalo %s%% CPU\n' "$(cpu_percents "$tv")"
for i in 1 2 3; do
    "$painter" --size 1920x1080 --position $((i * 40)),$((i * 40)) & q=$!; pids+=("$q")
    "$tovalo" ctl pin "$(window_of "$q")" >/dev/null
done
sleep 3
printf 'four pinned 1920x1080 windows: tovalo %s MB resident\n' "$(rss_mb "$tv")"

# The other drawing path, for comparison: every frame read into the process (MIT-SHM) and drawn
# by Qt, instead of composited on the server.
"$tovalo" ctl unpin-all >/dev/null
kill "$tv"; wait "$tv" 2>/dev/null || true
TOVALO_FRAME_PATH=pixels "$tovalo" & tv=$!; pids+=("$tv")
wait_for "$tovalo" ctl status
for size in 1280x800 1920x1080; do
    mirror_source "$size"
    printf '%s changing at ~60 fps, frames read into the process: tovalo %s%% CPU, X server +%s%%\n' \
        "$size" "$t" "$(minus "$x1" "$x0")"
    end_source
done
