# Shared by the benchmarks: the 60-minute recording, made once into bench/cache/.
bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(dirname "$bench_dir")
cache="$bench_dir/cache"
mkdir -p "$cache"

# 60 minutes of 44.1 kHz stereo: two tones that change every few seconds, so that the
# encoder meets varying material.
bench_wav() {
  local wav="$cache/bench60.wav"
  if [ ! -s "$wav" ]; then
    sox -n -r 44100 -c 2 -b 16 "$wav.tmp.wav" synth 3600 sine 200-2000 sine 300-3000 \
      tremolo 0.5 40 gain -6
    mv "$wav.tmp.wav" "$wav"
  fi
  echo "$wav"
}

bench_mp3() {
  local mp3="$cache/bench60_128k.mp3"
  if [ ! -s "$mp3" ]; then
    lame --quiet -b 128 "$(bench_wav)" "$mp3.tmp"
    mv "$mp3.tmp" "$mp3"
  fi
  echo "$mp3"
}

# Median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Wall seconds of a command, to the millisecond.
wall() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l | awk '{ printf "%.3f\n", $1 }'
}
