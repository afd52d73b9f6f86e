#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets below <corpus-folder>/<target>/:
#   dicom         tiny series from qv_make_series (grey, RGB, multi-frame), recompressed with
#                 DCMTK's tools (JPEG baseline and lossless, JPEG-LS, RLE, big endian, implicit),
#                 and, when python3-pydicom is installed, the real-world files of its data folder
#   series_cache  a series and a volume cache written by the program's own writer
#   unzip         small archives made with zip(1) (nested folders, stored and deflated entries)
#   plist         the program's own colour tables and hanging protocol file
#   fuzz/make-corpus.sh <corpus-folder> [<build-folder>]
set -euo pipefail
corpus=${1:?corpus folder}
build=${2:-build/fuzz}
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$corpus"/{dicom,series_cache,unzip,plist}
corpus=$(cd "$corpus" && pwd)  # the zip step below runs in another folder

series="$build/tools/dcmseries/qv_make_series"
"$series" "$work/ct" 2 16 12 1.5 CT >/dev/null
"$series" "$work/mr" 1 8 8 2 MR --orientation=oblique >/dev/null
"$series" "$work/rgb" 1 8 6 1 US --rgb >/dev/null
"$series" "$work/mf" 1 8 8 1 NM --multiframe >/dev/null
n=0
for f in $(find "$work" -type f | sort); do
  cp "$f" "$corpus/dicom/plain-$n.dcm"
  dcmcjpeg "$f" "$corpus/dicom/jpegll-$n.dcm" 2>/dev/null || true
  dcmcjpeg --encode-baseline "$f" "$corpus/dicom/jpeg8-$n.dcm" 2>/dev/null || true
  dcmcjpls "$f" "$corpus/dicom/jpls-$n.dcm" 2>/dev/null || true
  dcmcrle "$f" "$corpus/dicom/rle-$n.dcm" 2>/dev/null || true
  dcmconv --write-xfer-big "$f" "$corpus/dicom/big-$n.dcm" 2>/dev/null || true
  dcmconv --write-xfer-implicit "$f" "$corpus/dicom/implicit-$n.dcm" 2>/dev/null || true
  dcmconv --write-dataset "$f" "$corpus/dicom/nometa-$n.dcm" 2>/dev/null || true
  n=$((n + 1))
done

# Real-world files (odd encodings, private tags, damaged headers) when pydicom's test data is here.
pydicom=$(dpkg -L python3-pydicom 2>/dev/null | grep -m1 '/pydicom/data$' || true)
if [ -n "$pydicom" ] && [ -d "$pydicom" ]; then
  find "$pydicom" -type f ! -name '*.py' ! -name '*.pyc' ! -name '*.json' -size -512k \
    -exec sh -c 'cp "$1" "$2/pydicom-$(basename "$1")"' _ {} "$corpus/dicom" \;
fi

"$build/fuzz/qv_fuzz_make_cache" "$corpus/series_cache"

mkdir -p "$work/z/top/sub"
printf 'hello\n' >"$work/z/top/a.txt"
head -c 3000 /dev/zero >"$work/z/top/sub/zeros.bin"
(cd "$work/z" && zip -qr "$corpus/unzip/tree.zip" top && zip -q0 "$corpus/unzip/stored.zip" top/a.txt \
  && zip -q "$corpus/unzip/one.zip" top/sub/zeros.bin)

cp "$src"/Resources/protocal/protocal.xml "$corpus/plist/" 2>/dev/null || true
for f in $(find "$src/Resources" -name '*.plist' -size -64k | sort | head -4); do
  cp "$f" "$corpus/plist/"
done
echo "make-corpus: $(find "$corpus" -type f | wc -l) seeds in $corpus"
