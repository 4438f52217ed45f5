#!/usr/bin/env bash
# Writes the media fuzzer's seed files into DIR: one short, small file per
# container and codec a listener meets (made by ffmpeg at run time).
set -euo pipefail
dir="${1:?usage: make-seeds.sh DIR}"
mkdir -p "$dir"
tone="sine=frequency=440:sample_rate=8000:duration=0.3"
stereo="aevalsrc=0.4*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=22050:d=0.3"
ff() { ffmpeg -v error -nostdin -y "$@"; }
tags=(-metadata title="Seed title" -metadata artist="Seed artist" -metadata album="Seed album"
      -metadata genre=Test -metadata date=2026 -metadata track=3/12 -metadata comment="seed")

ff -f lavfi -i "$tone" -c:a pcm_s16le "${tags[@]}" "$dir/s16.wav"
ff -f lavfi -i "$stereo" -c:a pcm_s24le "$dir/s24-stereo.wav"
ff -f lavfi -i "$tone" -c:a pcm_f32le "$dir/f32.wav"
ff -f lavfi -i "$tone" -c:a pcm_u8 -rf64 always "$dir/u8.rf64.wav"
ff -f lavfi -i "$stereo" -c:a libmp3lame -b:a 32k -id3v2_version 3 "${tags[@]}" "$dir/id3v23.mp3"
ff -f lavfi -i "$tone" -c:a libmp3lame -b:a 8k -id3v2_version 4 -write_xing 0 "${tags[@]}" "$dir/id3v24-noxing.mp3"
ff -f lavfi -i "$stereo" -c:a libvorbis -q:a 0 "${tags[@]}" "$dir/vorbis.ogg"
ff -f lavfi -i "$stereo" -c:a libopus -b:a 16k "${tags[@]}" "$dir/opus.opus"
ff -f lavfi -i "$tone" -c:a flac -compression_level 0 "${tags[@]}" "$dir/flac.flac"
ff -f lavfi -i "$stereo" -c:a aac -b:a 24k "${tags[@]}" "$dir/aac.m4a"
ff -f lavfi -i "$tone" -c:a aac -b:a 16k -f adts "$dir/adts.aac"
# Raw streams of more than 8 frames: their count's end is read from frame headers.
ff -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=1.5" -c:a aac -b:a 16k -f adts "$dir/adts-long.aac"
ff -f lavfi -i "sine=frequency=440:sample_rate=16000:duration=1" -c:a mp2 -b:a 32k "$dir/mp2.mp2"
