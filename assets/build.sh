#!/usr/bin/env bash
# Builds the default production's data set from the sources in this folder:
#   assets/data/     every file the production loads, loose (the data directory the production falls back to)
#   assets/gorvel.yo the same files packed into the encrypted archive the production reads first
#
# Needs python3, a C++17 compiler, ffmpeg, lame (scripts/setup installs them) and qvtool, which is built from
# this tree unless QVTOOL names an existing binary. QV_BUILD_DIR picks the build directory (default build/).
# Steps whose qvtool command is missing fail with a message; everything before them is still made.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
out="$here/data"
password="Rb7qT"
video_size=256
video_fps=25
video_frames=200  # an 8-second loop; the production plays it at twice its own pace

for tool in python3 ffmpeg lame; do
  command -v "$tool" >/dev/null || { echo "build.sh: $tool is missing (run scripts/setup)" >&2; exit 1; }
done
cxx="${CXX:-c++}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# qvtool: given, or built from the tree
if [ -z "${QVTOOL:-}" ]; then
  bdir="${QV_BUILD_DIR:-$root/build}"
  case "$bdir" in /*) ;; *) bdir="$root/$bdir" ;; esac
  if [ ! -f "$bdir/build.ninja" ] && [ ! -f "$bdir/Makefile" ]; then
    cmake -S "$root" -B "$bdir" -G Ninja >/dev/null
  fi
  if cmake --build "$bdir" --target qvtool -j2 >"$work/qvtool-build.log" 2>&1; then
    QVTOOL="$bdir/qvtool"
  else
    echo "build.sh: qvtool does not build here (see below); packing steps will be skipped" >&2
    tail -5 "$work/qvtool-build.log" >&2
    QVTOOL=false
  fi
fi
has_cmd() { "$QVTOOL" --help 2>/dev/null | grep -q "^  $1 "; }

echo "== generators"
mkdir -p "$work/bin"
"$cxx" -std=c++17 -O2 -o "$work/bin/ferrowake" "$here/gen/ferrowake.cpp"
"$cxx" -std=c++17 -O2 -o "$work/bin/vidgen" "$here/gen/vidgen.cpp"

rm -rf "$out"
mkdir -p "$out"

echo "== pictures, meshes, scene, materials"
python3 "$here/gen/textures.py" "$out"
python3 "$here/gen/world.py" "$out"
cp "$here"/src/materials/*.mat "$out/"

echo "== music"
"$work/bin/ferrowake" "$work/ferrowake.wav"
lame --quiet --noreplaygain -q 2 -b 192 "$work/ferrowake.wav" "$out/ferrowake.mp3"
echo "-- as decoded from the mp3:"
ffmpeg -v error -y -i "$out/ferrowake.mp3" -c:a pcm_s16le "$work/decoded.wav"
"$work/bin/ferrowake" --analyze "$work/decoded.wav"

echo "== video"
# Pictures are coded upside down (the video texture shows the last coded row at the top), Simple Profile
# tools only: I and P pictures, no quarter-pel, no global motion, progressive.
"$work/bin/vidgen" "$video_size" "$video_size" "$video_fps" "$video_frames" |
  ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s "${video_size}x${video_size}" -r "$video_fps" -i - \
    -vf vflip,format=yuv420p -c:v mpeg4 -bf 0 -g 100 -qscale:v 8 -flags +bitexact -threads 1 \
    -f m4v "$work/test.m4v"
if has_cmd vpg; then
  "$QVTOOL" vpg mux "$work/test.m4v" "$out/test.vpg" --fps "$video_fps"
else
  echo "build.sh: qvtool has no 'vpg' command yet; test.vpg not made" >&2
fi

echo "== check"
if [ -f "$out/test.vpg" ]; then
  python3 "$here/gen/check.py" "$out"
  # the engine's own readers must accept what the generators wrote
  if has_cmd mesh; then
    for m in "$out"/*.mesh; do
      "$QVTOOL" mesh info "$m" >/dev/null || { echo "build.sh: qvtool refuses $m" >&2; exit 1; }
    done
  fi
  "$QVTOOL" vpg info "$out/test.vpg" | grep -q '^matches *yes' ||
    { echo "build.sh: qvtool vpg info finds test.vpg inconsistent" >&2; exit 1; }
else
  echo "build.sh: check skipped until test.vpg exists" >&2
fi

echo "== archive"
# fixed timestamps so that the archive depends only on the contents
find "$out" -type f -exec touch -h -d "2026-01-01 00:00:00 UTC" {} +
if has_cmd archive && [ -f "$out/test.vpg" ]; then
  members=()
  while IFS= read -r f; do members+=("$f"); done < <(cd "$out" && LC_ALL=C ls -1)
  rm -f "$here/gorvel.yo"
  (cd "$out" && "$QVTOOL" archive create "$here/gorvel.yo" -p "$password" "${members[@]}")
  echo "gorvel.yo: ${#members[@]} members, $(stat -c %s "$here/gorvel.yo") bytes"
else
  echo "build.sh: qvtool 'archive' or test.vpg missing; gorvel.yo not made" >&2
  exit 1
fi
