#!/usr/bin/env bash
# CPU use of the player while it plays a track and nobody touches the window,
# under software rendering (the usual case in virtual machines and on laptops
# without GL), for a reference build and the working tree, side by side.
#
#   bench/idle_cpu.sh [--seconds N] [--rounds N] [REFERENCE]
#
# REFERENCE is a git revision (built from `git archive` into
# build/bench-reference) or the path of a quorvel-player binary; by default
# the last revision whose views redrew on every progress tick. The working
# tree is built into build/release.
#
# The player runs under Xvfb (offscreen when Xvfb is missing) with
# QT_QUICK_BACKEND=software and plays a 60-second WAV given on its command
# line through an ALSA configuration of its own: a file PCM over the tests'
# restricted DAC plugin, which consumes frames in real time like a sound
# card. CPU time is read from /proc/<pid>/stat over the measured seconds,
# after the track has started; the bytes the file PCM wrote over the same
# seconds show that it really played.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
rounds=1
reference=ace3b8d
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    *) reference=$1; shift ;;
  esac
done

root=$PWD
work=$(mktemp -d /tmp/quorvel-idle-cpu.XXXXXX)
xvfb_pid=
player_pid=
cleanup() {
  [ -n "$player_pid" ] && kill "$player_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

build_player() { # source-dir build-dir
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
  nice cmake --build "$2" --target quorvel-player >/dev/null
}

echo "building the working tree and the reference ($reference)..." >&2
build_player "$root" "$root/build/release"
current=$root/build/release/src/app/quorvel-player
if [ -x "$reference" ]; then
  reference_binary=$reference
else
  ref_dir=$root/build/bench-reference
  rm -rf "$ref_dir/src"
  mkdir -p "$ref_dir/src"
  git archive "$reference" | tar -x -C "$ref_dir/src"
  build_player "$ref_dir/src" "$ref_dir/build"
  reference_binary=$ref_dir/build/src/app/quorvel-player
fi

# The paced DAC and a configuration in which it is the only output.
plugin=$work/libasound_module_pcm_quorveltestdac.so
# shellcheck disable=SC2046
cc -shared -fPIC -O2 -DPIC tests/engine/test_dac_plugin.c -o "$plugin" $(pkg-config --cflags --libs alsa)
cat >"$work/asound.conf" <<EOF
pcm_type.quorveltestdac { lib "$plugin" }
pcm.quorvel_bench {
  type file
  slave.pcm { type quorveltestdac }
  file "$work/played.raw"
  format "raw"
  hint { show on description "Quorvel bench DAC" }
}
EOF

# 60 s of 16-bit stereo noise at 44.1 kHz.
frames=$((44100 * 60))
bytes=$((frames * 4))
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
{
  printf 'RIFF'; le32 $((36 + bytes)); printf 'WAVEfmt '; le32 16
  printf '\x01\x00\x02\x00'; le32 44100; le32 $((44100 * 4)); printf '\x04\x00\x10\x00'
  printf 'data'; le32 "$bytes"
  head -c "$bytes" /dev/urandom
} >"$work/track.wav"

if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  platform=(QT_QPA_PLATFORM=xcb DISPLAY=":$(cat "$work/display")")
  where="Xvfb"
else
  platform=(QT_QPA_PLATFORM=offscreen)
  where="offscreen"
fi

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { # pid [tid]: user + system ticks of the process or one thread
  local stat=/proc/$1/stat
  [ -n "${2:-}" ] && stat=/proc/$1/task/$2/stat
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "$stat"
}

measure() { # binary -> "process% gui% played-seconds"
  rm -f "$work/played.raw"
  mkdir -p "$work/home" "$work/config"
  env "${platform[@]}" QT_QUICK_BACKEND=software HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$work/asound.conf" \
    "$1" "$work/track.wav" >/dev/null 2>&1 &
  player_pid=$!
  # The track plays once the file PCM is written to; the start settles first.
  for _ in $(seq 100); do [ -s "$work/played.raw" ] && break; sleep 0.1; done
  sleep 2
  local t0 p0 g0 b0 t1 p1 g1 b1
  t0=$(date +%s.%N); p0=$(cpu_ticks "$player_pid"); g0=$(cpu_ticks "$player_pid" "$player_pid")
  b0=$(stat -c %s "$work/played.raw" 2>/dev/null || echo 0)
  sleep "$seconds"
  t1=$(date +%s.%N); p1=$(cpu_ticks "$player_pid"); g1=$(cpu_ticks "$player_pid" "$player_pid")
  b1=$(stat -c %s "$work/played.raw" 2>/dev/null || echo 0)
  kill "$player_pid"; wait "$player_pid" 2>/dev/null || true
  player_pid=
  awk -v p=$((p1 - p0)) -v g=$((g1 - g0)) -v b=$((b1 - b0)) -v t0="$t0" -v t1="$t1" -v hz="$ticks_per_second" \
    'BEGIN { w = t1 - t0; printf "%.2f %.2f %.1f\n", 100 * p / hz / w, 100 * g / hz / w, b / 4 / 44100 }'
}

printf 'Playing a 60 s track, %s s measured, %s, QT_QUICK_BACKEND=software, 2 cores (load %s)\n' \
  "$seconds" "$where" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s  %-22s  %-22s  %s\n' round "reference (% of a core)" "current (% of a core)" "current / reference"
printf '%-6s  %-22s  %-22s  %s\n' "" "process / GUI thread" "process / GUI thread" "process"
for round in $(seq "$rounds"); do
  read -r rp rg rs < <(measure "$reference_binary")
  read -r cp cg cs < <(measure "$current")
  awk -v n="$round" -v rp="$rp" -v rg="$rg" -v rs="$rs" -v cp="$cp" -v cg="$cg" -v cs="$cs" 'BEGIN {
    printf "%-6s  %6.2f / %6.2f (%4.1f s)  %6.2f / %6.2f (%4.1f s)  %.2f\n", n, rp, rg, rs, cp, cg, cs, (rp > 0 ? cp / rp : 0) }'
done
echo "goal: current process <= 3 % of one core while playing; (n s) is what the device received meanwhile"
