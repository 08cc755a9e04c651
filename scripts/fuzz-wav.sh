#!/usr/bin/env bash
# Fuzzes the WAV reader with libFuzzer for a bounded time: scripts/fuzz-wav.sh [SECONDS] (60).
# Builds into build-fuzz/ with clang, seeds the corpus with small generated WAV files and exits
# non-zero when the fuzzer finds a crash (the input is kept in build-fuzz/fuzz-artifacts/).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: $0 [SECONDS]   (a positive whole number, default 60)" >&2
    exit 2
fi
build="build-fuzz"

generator=()
if command -v ninja >/dev/null && [[ ! -f $build/CMakeCache.txt ]]; then generator=(-G Ninja); fi
CC=clang CXX=clang++ cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_BUILD_FUZZERS=ON -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" --target fuzz_wave_reader --parallel "$(nproc)"
fuzzer=$(find "$build" -type f -name fuzz_wave_reader -perm -u+x | head -n 1)
[[ -n $fuzzer ]] || { echo "fuzz_wave_reader was not built" >&2; exit 1; }

# ---- Seed files: little-endian fields written with printf -----------------------------------
bytes() {
    local out='' v
    for v in "$@"; do out+=$(printf '\\x%02x' "$((v & 255))"); done
    printf '%b' "$out"
}
le16() { bytes "$1" "$(($1 >> 8))"; }
le32() { bytes "$1" "$(($1 >> 8))" "$(($1 >> 16))" "$(($1 >> 24))"; }
fmt_chunk() { # tag channels rate bits
    printf 'fmt '; le32 16; le16 "$1"; le16 "$2"; le32 "$3"
    le32 $(($3 * $2 * $4 / 8)); le16 $(($2 * $4 / 8)); le16 "$4"
}
extensible_chunk() { # sub-format channels rate bits
    printf 'fmt '; le32 40; le16 65534; le16 "$2"; le32 "$3"
    le32 $(($3 * $2 * $4 / 8)); le16 $(($2 * $4 / 8)); le16 "$4"
    le16 22; le16 "$4"; le32 3; le32 "$1"
    bytes 0x00 0x00 0x10 0x00 0x80 0x00 0x00 0xAA 0x00 0x38 0x9B 0x71
}
data_chunk() { # byte values...
    printf 'data'; le32 $#; bytes "$@"
    if (($# % 2)); then bytes 0; fi
}
riff() { # file, then the chunk list on stdin
    local body
    body=$(mktemp)
    cat >"$body"
    { printf 'RIFF'; le32 $(($(stat -c %s "$body") + 4)); printf 'WAVE'; cat "$body"; } >"$1"
    rm -f "$body"
}
own_file() { # file riff-size data-size: our recorder's header and four samples
    { printf 'RIFF'; le32 "$2"; printf 'WAVE'; printf 'fmt '; le32 16; le16 1; le16 1
      le32 96000; le32 192000; le16 2; le16 16; printf 'data'; le32 "$3"
      bytes 0x10 0x00 0xF0 0xFF 0x00 0x40 0x00 0xC0; } >"$1"
}

seeds=$build/fuzz-seeds/wave
rm -rf "$seeds"
mkdir -p "$seeds" "$build/fuzz-corpus/wave" "$build/fuzz-artifacts"
own_file "$seeds/own.wav" 44 8
own_file "$seeds/interrupted.wav" 0 0
{ printf 'LIST'; le32 5; bytes 1 2 3 4 5 0; fmt_chunk 1 2 8000 8
  data_chunk 0 255 128 128 64 192 7; } | riff "$seeds/stereo8-list.wav"
{ printf 'fact'; le32 4; le32 3; fmt_chunk 1 1 44100 24
  data_chunk 0 1 2 3 4 5 6 7 8; } | riff "$seeds/pcm24-fact.wav"
{ fmt_chunk 1 1 48000 32; data_chunk 0 0 0 64 0 0 0 192; } | riff "$seeds/pcm32.wav"
{ extensible_chunk 3 2 48000 32
  data_chunk 0 0 0 63 0 0 128 191 0 0 128 63 0 0 0 0; } | riff "$seeds/float-extensible.wav"
{ fmt_chunk 3 1 22050 64; data_chunk 0 0 0 0 0 0 224 63; } | riff "$seeds/float64.wav"
{ data_chunk 1 0 2 0; fmt_chunk 1 1 8000 16; } | riff "$seeds/data-before-fmt.wav"

dict=$build/fuzz-seeds/wave.dict
cat >"$dict" <<'DICT'
"RIFF"
"WAVE"
"fmt "
"data"
"LIST"
"fact"
"\xFE\xFF"
"\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71"
DICT

# The first directory collects new inputs; the seeds are only read.
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -dict="$dict" -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/" "$build/fuzz-corpus/wave" "$seeds" || status=$?
if ((status != 0)); then
    echo "fuzz_wave_reader failed (exit $status); reproducer in $build/fuzz-artifacts/" >&2
    exit "$status"
fi
echo "fuzz_wave_reader: no crash in ${seconds} s"
