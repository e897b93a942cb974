#!/usr/bin/env bash
# Writes the seed inputs of the fuzz targets: OUTDIR/<target>/ for each fuzz/<target>_fuzz.cpp
# (wav, txt, cue, toc, settings, mpeg, flac, ogg, flac_frame). Every seed is small and written here byte by byte,
# so the corpus is the same on every machine; the FLAC seeds are byte-made PCM that the flac
# tool encodes, the Ogg seeds the same PCM through oggenc (newer encoders may differ in their
# vendor strings only). Inputs that once failed a target stay in fuzz/regressions/<target>/ and
# join its seeds.
# Usage: make-seeds.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-seeds.sh OUTDIR}
mkdir -p "$out"/{wav,txt,cue,toc,settings,mpeg,flac,ogg}

# --- WAV: little-endian fields and chunks ------------------------------------------------
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }
# pcm_fields TAG CHANNELS RATE BITS: the 16 bytes every format chunk starts with.
pcm_fields() {
  local tag=$1 channels=$2 rate=$3 bits=$4
  local align=$((channels * bits / 8))
  le16 "$tag"; le16 "$channels"; le32 "$rate"; le32 $((rate * align)); le16 "$align"; le16 "$bits"
}
chunk() { printf '%s' "$1"; le32 "$2"; }  # id and declared size
samples() { head -c "$1" /dev/zero | tr '\0' '\021'; }
riff() { printf 'RIFF'; le32 "$1"; printf 'WAVE'; }

{ riff 136; chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk data 100; samples 100; } >"$out/wav/canonical.wav"
{ riff 109; chunk 'fmt ' 16; pcm_fields 1 1 8000 8; chunk data 73; samples 73; printf '\0'; } >"$out/wav/mono8-odd.wav"
{ riff 156; chunk 'fmt ' 18; pcm_fields 1 2 48000 24; le16 0; chunk data 120; samples 120; } >"$out/wav/fmt18-24bit.wav"
{
  riff 200; chunk 'fmt ' 40; pcm_fields 0xFFFE 2 44100 16; le16 22; le16 16; le32 3
  le16 1; printf '\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71'
  chunk data 96; samples 96
} >"$out/wav/extensible.wav"
{
  riff 170; chunk LIST 26; printf 'INFO'; chunk INAM 14; printf 'Opening act\0\0\0'
  chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk fact 4; le32 25; chunk data 100; samples 100
} >"$out/wav/list-and-fact-first.wav"
{
  riff 160; chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk data 64; samples 64
  chunk LIST 16; printf 'INFOICMT'; le32 4; printf 'note'
} >"$out/wav/list-after-data.wav"
{ riff 0xFFFFFFFF; chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk data 0xFFFFFFFF; samples 64; } >"$out/wav/unknown-length.wav"
{ riff 1036; chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk data 1000; samples 40; } >"$out/wav/truncated-data.wav"
{ riff 36; chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk data 0; } >"$out/wav/empty-data.wav"
{ riff 80; chunk 'fmt ' 16; pcm_fields 3 1 44100 32; chunk data 44; samples 44; } >"$out/wav/float.wav"
{ riff 60; chunk 'fmt ' 16; pcm_fields 1 0 0 0; chunk data 16; samples 16; } >"$out/wav/zero-format.wav"
{ riff 44; chunk 'fmt ' 16; pcm_fields 1 2 44100 16; } >"$out/wav/no-data-chunk.wav"
# Odd-sized chunks, each followed by its pad byte, before and after the format chunk.
{
  riff 140; chunk junk 3; printf 'abc\0'; chunk 'fmt ' 16; pcm_fields 1 2 44100 16
  chunk iXML 5; printf '<x/>\n\0'; chunk data 64; samples 64; chunk LIST 5; printf 'INFO!\0'
} >"$out/wav/odd-chunks.wav"
{
  riff 232; chunk bext 7; printf 'origin\0\0'; chunk 'fmt ' 40; pcm_fields 0xFFFE 6 48000 16; le16 22; le16 16
  le32 63; le16 1; printf '\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71'
  chunk 'cue ' 28; le32 1; le32 1; le32 0; printf 'data'; le32 0; le32 0; le32 0; chunk data 120; samples 120
} >"$out/wav/extensible-5.1-bwf.wav"
# le64 LOW HIGH: a 64-bit field from its two 32-bit halves.
le64() { le32 "$1"; le32 "$2"; }
# RF64: the sizes are in ds64, the 32-bit ones say 0xFFFFFFFF; a LIST chunk follows the data.
{
  printf 'RF64'; le32 0xFFFFFFFF; printf 'WAVE'; chunk ds64 28; le64 180 0; le64 96 0; le64 24 0; le32 0
  chunk 'fmt ' 16; pcm_fields 1 2 44100 16; chunk data 0xFFFFFFFF; samples 96; chunk LIST 4; printf 'INFO'
} >"$out/wav/rf64.wav"
# BW64 whose ds64 table gives the size of a JUNK chunk, and a data size beyond the file.
{
  printf 'BW64'; le32 0xFFFFFFFF; printf 'WAVE'; chunk ds64 40; le64 148 0; le64 0 1; le64 0 0; le32 1
  printf 'JUNK'; le64 6 0; chunk JUNK 0xFFFFFFFF; printf 'junk!!'
  chunk 'fmt ' 16; pcm_fields 1 1 32000 16; chunk data 0xFFFFFFFF; samples 50
} >"$out/wav/bw64-table.wav"

# --- TXT break lists, as the program writes them and as people type them --------------------
cat >"$out/txt/written.txt" <<'TXT'

; Created by trackfold 0.16
; https://trackfold.org/2006/trackfold/tb-file-format.txt

0=concert-01
13500=concert-02
27000
40512=Encore: the long one

; Total breaks: 4
; Original file: concert.wav

TXT
printf '0=Intro\r\n4500=Track two\r\n9000\r\n' >"$out/txt/crlf.txt"
printf '0=a\n   7=  spaced name\n-1=negative\n99999999999999999999=huge\n7=duplicate' >"$out/txt/odd-numbers.txt"
printf '; only a comment\n\n;0=not a break\n' >"$out/txt/comments-only.txt"
printf '0=name with \0 nul\n150=%%s%%n%%d\n' >"$out/txt/nul-and-percent.txt"

# --- CUE sheets in the styles ripping and mixing software writes --------------------------
cat >"$out/cue/ripper.cue" <<'CUE'
REM GENRE Rock
REM DATE 1994
REM DISCID 8A0B2C0D
REM COMMENT "ExactAudioCopy v1.6"
PERFORMER "The Band"
TITLE "Live at the Hall"
FILE "Live at the Hall.wav" WAVE
  TRACK 01 AUDIO
    TITLE "Opening"
    PERFORMER "The Band"
    FLAGS DCP
    ISRC GBAYE9400001
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    TITLE "Second Song"
    INDEX 00 04:58:40
    INDEX 01 05:00:12
  TRACK 03 AUDIO
    TITLE "Closing"
    PREGAP 00:02:00
    INDEX 01 09:41:70
    INDEX 02 12:00:00
    POSTGAP 00:01:00
CUE
printf '\xEF\xBB\xBFPERFORMER "Artist"\r\nTITLE "Mix"\r\nFILE "mix.flac" WAVE\r\n  TRACK 1 AUDIO\r\n    INDEX 01 0:00:00\r\n  TRACK 2 AUDIO\r\n    INDEX 01 123:45:67\r\n' >"$out/cue/bom-crlf.cue"
cat >"$out/cue/data-track.cue" <<'CUE'
FILE "disc.bin" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    PREGAP 00:02:00
    INDEX 01 18:30:15
  track 03 audio
    index 01 25:00:00
CUE
printf 'FILE "a.wav" WAVE\rTRACK 01 AUDIO\rINDEX 01 00:00:00\rTRACK 02 AUDIO\rINDEX 01 99:59:74\r' >"$out/cue/cr-only.cue"
printf 'FILE "one.wav" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE "two.wav" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n' >"$out/cue/two-files.cue"
printf '0=not a cue sheet\n4500=second\n' >"$out/cue/plain-list.cue"
# Many short lines: a reader that keeps them all at once holds tens of times the file.
{ printf 'FILE "a.wav" WAVE\n'; for _ in $(seq 5000); do printf 'REM\n'; done; } >"$out/cue/many-lines.cue"
# Texts in other charsets, escaped quotes, unquoted words and slashes, for the metadata reading.
printf 'PERFORMER \xc3\xe0\xf0\xec\xee\xed\xe8\xff\nTITLE "A/B \\"live\\""\nFILE a.wav WAVE\nTRACK 01 AUDIO\nTITLE Two words\nINDEX 01 00:00:00\n' >"$out/cue/cp1251.cue"
printf '\xff\xfeT\0I\0T\0L\0E\0 \0X\0\n\0F\0I\0L\0E\0 \0a\0 \0W\0A\0V\0E\0\n\0T\0R\0A\0C\0K\0 \0\x30\0\x31\0 \0A\0U\0D\0I\0O\0\n\0I\0N\0D\0E\0X\0 \0\x30\0\x31\0 \0\x30\0:\0\x30\0:\0\x30\0\n\0' >"$out/cue/utf16.cue"

# --- TOC files as disc-at-once writers produce them ---------------------------------------
cat >"$out/toc/cd-text.toc" <<'TOC'
CD_DA

CD_TEXT {
  LANGUAGE_MAP {
    0 : EN
  }
  LANGUAGE 0 {
    TITLE "Live at the Hall"
    PERFORMER "The Band"
  }
}

// Track 1
TRACK AUDIO
NO COPY
NO PRE_EMPHASIS
TWO_CHANNEL_AUDIO
CD_TEXT {
  LANGUAGE 0 {
    TITLE "Opening"
  }
}
FILE "concert.wav" 0 04:58:40

// Track 2
TRACK AUDIO
TWO_CHANNEL_AUDIO
ISRC "GBAYE9400002"
FILE "concert.wav" 04:58:40 04:43:30
START 00:01:47

// Track 3
TRACK AUDIO
SILENCE 00:02:00
FILE "concert.wav" 09:42:70 02:10:05
START 00:02:00
INDEX 00:30:00
TOC
cat >"$out/toc/samples-and-pregap.toc" <<'TOC'
CD_DA
TRACK AUDIO
AUDIOFILE "take.wav" #0 0 1411200
TRACK AUDIO
PREGAP 0:2:0
AUDIOFILE "take.wav" 1411200 2822400
TRACK AUDIO
ZERO AUDIO 00:01:00
DATAFILE "take.wav" 00:20:00
TOC
cat >"$out/toc/data-first.toc" <<'TOC'
CD_ROM
TRACK MODE1
DATAFILE "data.bin" 10:00:00
TRACK AUDIO
FILE "audio.wav" 0
TRACK AUDIO
FILE "other.wav" 0 1:0:0
TOC
printf 'CD_DA\r\nTRACK AUDIO\r\nFILE "x.wav" 0 // comment "quoted"\r\nTRACK AUDIO FILE "x.wav" 1:2:3\r\n' >"$out/toc/crlf-comments.toc"
{ printf 'CD_DA\n'; for _ in $(seq 10000); do printf '{ '; done; } >"$out/toc/many-braces.toc"

# --- settings files --------------------------------------------------------------------
cat >"$out/settings/saved.conf" <<'CONF'
[trackfold]
config_file_version=2
use_outputdir=false
outputdir=/home/user/music
use_etree_filename_suffix=true
etree_filename_suffix=-
etree_cd_length=80
prepend_file_number=false
main_window_xpos=-1
main_window_ypos=-1
main_window_width=-1
main_window_height=-1
vpane1_position=-1
vpane2_position=-1
silence_percentage=2
show_moodbar=true
CONF
cat >"$out/settings/translations.conf" <<'CONF'
# settings edited by hand
[trackfold]
outputdir=/tmp/out
outputdir[de]=/tmp/ausgabe
etree_filename_suffix=\s_\t
etree_cd_length=74
use_etree_filename_suffix=1
silence_percentage=abc
show_moodbar=maybe

[other]
key=value
CONF
printf '[trackfold]\nprepend_file_number=true\netree_cd_length=99999999999999999999\nmain_window_width=2147483648\n' >"$out/settings/big-numbers.conf"
printf 'not a key file at all\n\0\xff\n' >"$out/settings/garbage.conf"

# --- MPEG audio: frame headers followed by empty frame bodies ----------------------------
# frames HEADER_HEX BYTES COUNT: COUNT frames of BYTES bytes that begin with the 4-byte header.
frames() {
  local i
  for ((i = 0; i < $3; i++)); do printf "$1"; head -c $(($2 - 4)) /dev/zero; done
}
frames '\xff\xfb\x90\x64' 417 6 >"$out/mpeg/mpeg1-layer3-128k.mp3"                 # 44.1 kHz
{ frames '\xff\xfb\x92\x64' 418 2; frames '\xff\xfb\x90\x64' 417 2; } >"$out/mpeg/padding.mp3"
frames '\xff\xfd\xa4\x04' 576 4 >"$out/mpeg/mpeg1-layer2.mp2"                       # 192 kbps 48 kHz
frames '\xff\xf3\x60\xc4' 156 5 >"$out/mpeg/mpeg2-layer3-mono.mp3"                  # 48 kbps 22.05 kHz
frames '\xff\xe3\x28\xc4' 144 5 >"$out/mpeg/mpeg25-layer3.mp3"                      # 16 kbps 8 kHz
frames '\xff\xff\x40\x64' 136 4 >"$out/mpeg/mpeg1-layer1.mp3"                       # 128 kbps 44.1 kHz
frames '\xff\xfb\x00\x64' 417 3 >"$out/mpeg/free-format.mp3"
{ printf 'ID3\x04\x00\x00\x00\x00\x02\x00'; head -c 256 /dev/zero | tr '\0' '\377'
  frames '\xff\xfb\x90\x64' 417 3; printf 'TAG'; head -c 125 /dev/zero; } >"$out/mpeg/id3-tags.mp3"
{ head -c 1000 /dev/zero | tr '\0' 'J'; frames '\xff\xfb\x90\x64' 417 3; } >"$out/mpeg/junk-first.mp3"
{ frames '\xff\xfb\x90\x64' 417 3; printf '\xff\xfb\x90\x64'; head -c 100 /dev/zero; } >"$out/mpeg/truncated.mp3"

# --- FLAC: short streams of patterned PCM ------------------------------------------------
# raw_flac NAME CHANNELS BITS RATE BYTES [FLAC OPTIONS]: BYTES of a repeating pattern as PCM.
raw_flac() {
  local name=$1 channels=$2 bits=$3 rate=$4 bytes=$5
  shift 5
  local i
  for ((i = 0; i <= bytes / 26; i++)); do printf 'tfold FLAC seed 0123456789'; done | head -c "$bytes" |
    flac -s -f --force-raw-format --endian=little --sign=signed --channels="$channels" --bps="$bits" \
      --sample-rate="$rate" --input-size="$bytes" --blocksize=192 --no-padding "$@" \
      -o "$out/flac/$name.flac" -
}
raw_flac stereo16 2 16 8000 3200 --no-seektable
raw_flac mono24 1 24 96000 3000 --no-seektable
raw_flac mono8 1 8 22050 1000 -T TITLE=seed -T REPLAYGAIN_TRACK_GAIN=1
raw_flac six-channels 6 16 48000 2400 --channel-map=none --no-seektable
{ printf 'ID3\x03\x00\x00\x00\x00\x00\x10'; head -c 16 /dev/zero; cat "$out/flac/stereo16.flac"; } \
  >"$out/flac/id3-first.flac"
head -c -100 "$out/flac/stereo16.flac" >"$out/flac/truncated.flac"
# Images that carry their cue sheet: a CUESHEET block, and a CUESHEET comment.
raw_flac sheet-comment 2 16 8000 3200 --no-seektable \
  -T "CUESHEET=FILE \"a.wav\" WAVE
  TRACK 01 AUDIO
    INDEX 01 00:00:00
  TRACK 02 AUDIO
    INDEX 01 00:00:10"
cp "$out/flac/stereo16.flac" "$out/flac/sheet-block.flac"
printf 'FILE "sheet-block.flac" FLAC\n  TRACK 01 AUDIO\n    INDEX 01 0\n  TRACK 02 AUDIO\n    INDEX 01 400\n' \
  >"$out/flac/sheet.cue"
metaflac --import-cuesheet-from="$out/flac/sheet.cue" "$out/flac/sheet-block.flac"
rm "$out/flac/sheet.cue"

# --- Ogg Vorbis: the same patterned PCM, encoded -----------------------------------------
# raw_ogg NAME CHANNELS RATE BYTES SERIAL: BYTES of the pattern as 16-bit PCM.
raw_ogg() {
  local name=$1 channels=$2 rate=$3 bytes=$4 serial=$5 i
  for ((i = 0; i <= bytes / 26; i++)); do printf 'tfold Ogg seed 01234567890'; done | head -c "$bytes" |
    oggenc -Q -r -B 16 -C "$channels" -R "$rate" --serial "$serial" -q 0 -o "$out/ogg/$name.ogg" -
}
raw_ogg mono8k 1 8000 3200 1
raw_ogg stereo11k 2 11025 8800 2
raw_ogg second-link 1 8000 1600 3
cat "$out/ogg/mono8k.ogg" "$out/ogg/second-link.ogg" >"$out/ogg/chained.ogg"
rm "$out/ogg/second-link.ogg"
head -c -40 "$out/ogg/stereo11k.ogg" >"$out/ogg/truncated.ogg"
# Damage inside a stream of several audio pages: a page whose CRC fails, a page left out, and
# a download that stopped at nine tenths.
raw_ogg pages 1 8000 160000 4
pages=$out/ogg/pages.ogg
mapfile -t page_at < <(LC_ALL=C grep -obUa OggS "$pages" | cut -d: -f1)
last=$((${#page_at[@]} - 1))
cp "$pages" "$out/ogg/damaged-page.ogg"
printf '\x55' | dd of="$out/ogg/damaged-page.ogg" bs=1 seek=$((page_at[last - 2] + 100)) conv=notrunc status=none
{ head -c "${page_at[last - 1]}" "$pages"; tail -c +$((page_at[last] + 1)) "$pages"; } >"$out/ogg/missing-page.ogg"
head -c $(($(stat -c %s "$pages") * 9 / 10)) "$pages" >"$out/ogg/cut-short.ogg"
rm "$pages"

# --- FLAC frames: five bytes of a sample number, then the first frame of a FLAC seed -------
mkdir -p "$out/flac_frame"
# frame_seed NAME SEED: the seed's first frame, which ends where flac -a says the second begins.
frame_seed() {
  local seed="$out/flac/$2.flac" from to
  from=$(flac -a -s -o - "$seed" | awk -F'\t' '$1 == "frame=0" { sub("offset=", "", $2); print $2 }')
  to=$(flac -a -s -o - "$seed" | awk -F'\t' '$1 == "frame=1" { sub("offset=", "", $2); print $2 }')
  { printf '\x00\x00\x01\x02\x03'; tail -c +$((from + 1)) "$seed" | head -c $((to - from)); } \
    >"$out/flac_frame/$1.bin"
}
frame_seed stereo16 stereo16
frame_seed mono24 mono24
frame_seed six-channels six-channels

# --- Inputs the targets once failed on ----------------------------------------------------
for kept in "$(dirname "$0")"/regressions/*/; do
  mkdir -p "$out/$(basename "$kept")"
  cp "$kept"* "$out/$(basename "$kept")/"
done
