#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Audio benchmarks against references measured in the same run.
#   waveform: `wavelark-probe peaks FILE` (a whole process) against `ffmpeg -v error -i FILE -f
#             null -` on the same file, and the in-process median of peaks-bench against the
#             processing time that ffmpeg itself reports for that command (-benchmark rtime), so
#             that process start-up, which dominates on a busy machine, cancels out.
#   latency:  median time from play(url) to the first device buffer holding the file's frames.
# usage: bench/audio_bench.sh BUILD_DIR [REPEAT] [WORKDIR]
# The audio driver comes from SDL_AUDIODRIVER (dummy when unset: no sound server needed).
set -euo pipefail
build=${1:-build}
repeat=${2:-11}
work=${3:-/tmp/wavelark-audio-bench}
probe="$build/wavelark-probe"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

mkdir -p "$work"
source="anoisesrc=color=pink:amplitude=0.4:sample_rate=44100:duration=60:seed=5"
make() { [ -s "$work/$1" ] || ffmpeg -v error -y -f lavfi -i "$source" -ac 2 "${@:2}" "$work/$1"; }
make long.wav -c:a pcm_s16le
make long.flac -c:a flac
make long.mp3 -c:a libmp3lame -b:a 192k
make long.m4a -c:a aac -b:a 192k
short="aevalsrc=exprs='0.5*sin(2*PI*220*t)|0.5*sin(2*PI*330*t)':s=44100:d=2"
for entry in "short.wav pcm_s16le" "short.aiff pcm_s16be" "short.mp3 libmp3lame" \
            "short.m4a aac" "short.flac flac"; do
  set -- $entry
  [ -s "$work/$1" ] || ffmpeg -v error -y -f lavfi -i "$short" -c:a "$2" "$work/$1"
done
cat "$work"/* >/dev/null # warm the cache

ms() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); echo "scale=3; ($e - $s) / 1000000" | bc; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
ratio() { echo "scale=2; $1 / $2" | bc; }

echo "waveform of a 60 s stereo 44.1 kHz file, medians of $repeat runs"
for f in long.wav long.flac long.mp3 long.m4a; do
  ffmpeg_ms=$(for i in $(seq "$repeat"); do ms ffmpeg -v error -i "$work/$f" -f null -; done | median)
  probe_ms=$(for i in $(seq "$repeat"); do ms "$probe" peaks "$work/$f"; done | median)
  rtime_ms=$(for i in $(seq "$repeat"); do
    ffmpeg -hide_banner -nostats -benchmark -i "$work/$f" -f null - 2>&1 |
      sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p' | awk '{printf "%.3f\n", $1 * 1000}'
  done | median)
  inproc_ms=$("$probe" peaks-bench "$work/$f" --repeat "$repeat" | awk '{print $2}')
  echo "$f process: ffmpeg_ms=$ffmpeg_ms peaks_ms=$probe_ms ratio=$(ratio "$probe_ms" "$ffmpeg_ms");" \
       "in process: ffmpeg_rtime_ms=$rtime_ms peaks_ms=$inproc_ms ratio=$(ratio "$inproc_ms" "$rtime_ms")"
done

echo "preview start latency (SDL_AUDIODRIVER=$SDL_AUDIODRIVER), medians of $repeat plays"
wav_ms=""
for f in short.wav short.aiff short.mp3 short.m4a short.flac; do
  latency_ms=$("$probe" latency "$work/$f" --repeat "$repeat" | awk '{print $2}')
  wav_ms=${wav_ms:-$latency_ms}
  echo "$f latency_ms=$latency_ms ratio_to_wav=$(ratio "$latency_ms" "$wav_ms")"
done
