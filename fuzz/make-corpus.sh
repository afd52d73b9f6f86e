#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets below <corpus-folder>/<target>/:
#   dicom         tiny series from qv_make_series (grey, RGB, multi-frame), recompressed with
#                 DCMTK's tools (JPEG baseline and lossless, JPEG-LS, RLE, big endian, implicit),
#                 data sets of nested sequences, items and undefined lengths in every encoding,
#                 and, when python3-pydicom is installed, the real-world files of its data folder
#   received      data sets as a peer sends them (no meta group), led by one byte that picks the
#                 accepted transfer syntax (see fuzz_received.cpp): the plain seeds and the nested
#                 ones
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
mkdir -p "$corpus"/{dicom,received,series_cache,unzip,plist}
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

# Nested sequences, items of defined and undefined length, UN holding items, fragments, empty
# items, nesting past the bound, and the shapes below: as files (preamble and meta group) and as received
# data sets. Syntax bytes of fuzz_received.cpp: 0 explicit, 1 implicit, 2 deflated, 3 big endian.
python3 - "$corpus" "$src/platform/dicom/tests/data/crafted/directory-record-aborts.dcm" <<'PY'
import struct, sys, zlib
corpus = sys.argv[1]
def element(g, e, vr, value, big=False, implicit=False, length=None):
    n = len(value) if length is None else length
    o = '>' if big else '<'
    head = struct.pack(o + 'HH', g, e)
    if implicit or g == 0xFFFE:
        return head + struct.pack(o + 'I', n) + value
    if vr in (b'OB', b'OW', b'SQ', b'UN', b'UT', b'UC'):
        return head + vr + b'\0\0' + struct.pack(o + 'I', n) + value
    return head + vr + struct.pack(o + 'H', n) + value
U = 0xFFFFFFFF
def item(body, big=False, defined=True):
    if defined:
        return element(0xFFFE, 0xE000, None, body, big)
    return element(0xFFFE, 0xE000, None, body, big, length=U) + element(0xFFFE, 0xE00D, None, b'', big)
def seq(tag, items, big=False, implicit=False, defined=True):
    body = b''.join(items)
    if defined:
        return element(tag[0], tag[1], b'SQ', body, big, implicit)
    return element(tag[0], tag[1], b'SQ', body, big, implicit, length=U) + element(0xFFFE, 0xE0DD, None, b'', big)
def ident(big=False, implicit=False):
    return (element(0x0008, 0x0016, b'UI', b'1.2.840.10008.5.1.4.1.1.7\0', big, implicit) +
            element(0x0008, 0x0018, b'UI', b'1.2.3.4\0', big, implicit) +
            element(0x0010, 0x0010, b'PN', b'NEST^ED ', big, implicit))
def nested(depth, big=False, implicit=False, defined=True):
    inner = element(0x0008, 0x0100, b'SH', b'CODE', big, implicit)
    for _ in range(depth):
        inner = seq((0x0040, 0xA730), [item(inner, big, defined)], big, implicit, defined)
    return inner
def pixels(big=False):
    frags = item(b'', big) + item(b'\xff\xd8\xff\xd9', big)
    return element(0x7FE0, 0x0010, b'OB', frags, big, length=U) + element(0xFFFE, 0xE0DD, None, b'', big)
cases = {
    'nest-defined': (0, ident() + nested(6)),
    'nest-undefined': (0, ident() + nested(6, defined=False)),
    'nest-implicit': (1, ident(implicit=True) + nested(5, implicit=True, defined=False)),
    'nest-big': (3, ident(big=True) + nested(4, big=True)),
    'nest-deep': (0, ident() + nested(140, defined=False)),
    'un-items': (0, ident() + element(0x0040, 0xA730, b'UN', item(element(0x0008, 0x0100, None, b'CODE', implicit=True)))),
    'un-undefined': (0, ident() + element(0x0040, 0xA730, b'UN', b'', length=U) +
                     item(element(0x0008, 0x0100, None, b'CODE', implicit=True), defined=False) +
                     element(0xFFFE, 0xE0DD, None, b'')),
    'empty-items': (0, ident() + seq((0x0008, 0x1140), [item(b'')] * 64, defined=False)),
    'fragments': (0, ident() + pixels()),
}
# The shapes by which DCMTK's reading once parted from the walk's, 10 levels deep each: a value of
# defined length opening with a sequence delimiter and going on with nested sequences (as UN, in
# implicit VR, and in a command), Pixel Data as an undefined-length SQ, an element of group FFFE
# other than the three delimiters holding a sequence.
def opened(depth, implicit=False):
    return b''.join(element(0x0040, 0xA730, b'SQ', b'', implicit=implicit, length=U) +
                    element(0xFFFE, 0xE000, None, b'', length=U) for _ in range(depth))
def delimited(depth, vr, implicit=False):
    return element(0x0040, 0xA730, vr, element(0xFFFE, 0xE0DD, None, b'') + opened(depth, implicit), implicit=implicit)
command = (element(0x0000, 0x0002, None, b'1.2.840.10008.1.1\0', implicit=True) +
           element(0x0000, 0x0100, None, b'\x30\x00', implicit=True) +
           element(0x0000, 0x0110, None, b'\x07\x00', implicit=True) +
           element(0x0000, 0x0800, None, b'\x01\x01', implicit=True))
cases.update({
    'delimiter-un': (0, ident() + delimited(10, b'UN')),
    'delimiter-implicit': (1, ident(implicit=True) + delimited(10, None, implicit=True)),
    'delimiter-command': (1, command + delimited(10, None, implicit=True)),
    'pixel-data-sq': (0, ident() + element(0x7FE0, 0x0010, b'SQ', b'', length=U) + element(0xFFFE, 0xE000, None, b'', length=U) +
                      opened(9)),
    'group-fffe-element': (0, ident() + element(0xFFFE, 0xE0AA, b'SQ', b'', length=U) +
                           element(0xFFFE, 0xE000, None, b'', length=U) + opened(9)),
})
# Where the walk parted from DCMTK on where an element begins: a value of odd length opening with
# an item whose delimiter's header runs past the value's end (DCMTK goes on five bytes into that
# header, the walk at its end), with a directory record sequence that makes DCMTK throw behind it,
# plain and deflated; and a delimiter's header running past the end of a sequence of defined length.
records = open(sys.argv[2], 'rb').read()[0x19A:0x19A + 12 + 0x3164]
def parted():
    odd = element(0x0011, 0x1010, b'UN', b'\xfe\xff\x00\xe0\xff\xff\xff\xff\xfe\xff\x0d\xe0\x00')
    text = 0x4F00
    return (odd + b'\x10\x00\x00\x40LT\x00\x4fB\0\0' + struct.pack('<I', text - 7 + len(records)) + b' ' * (text - 7) +
            records + element(0x0028, 0x0010, b'US', b'\x04\x00'))
def deflate(data):
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    out = z.compress(data) + z.flush()
    return out + (b'\0' if len(out) % 2 else b'')
cases.update({
    'parted-records': (0, ident() + parted()),
    'parted-records-deflated': (2, deflate(ident() + parted())),
    'delimiter-past-sequence': (0, ident() + element(0x0008, 0x1115, b'SQ', b'\xfe\xff\x00\xe0\xff\xff\xff\xff\xfe\xff\x0d\xe0',
                                                      length=12) + b'\0\0\0\0' + nested(10, defined=False)),
})
meta_syntax = {0: b'1.2.840.10008.1.2.1\0', 1: b'1.2.840.10008.1.2\0', 2: b'1.2.840.10008.1.2.1.99\0',
               3: b'1.2.840.10008.1.2.2\0'}
for name, (syntax, data) in cases.items():
    with open(f'{corpus}/received/{name}', 'wb') as f:
        f.write(bytes([syntax]) + data)
    group = element(0x0002, 0x0001, b'OB', b'\0\1') + element(0x0002, 0x0010, b'UI', meta_syntax[syntax])
    meta = element(0x0002, 0x0000, b'UL', struct.pack('<I', len(group))) + group
    with open(f'{corpus}/dicom/{name}.dcm', 'wb') as f:
        f.write(b'\0' * 128 + b'DICM' + meta + data)
# Files DCMTK reads in a syntax it guesses: no meta group, and a transfer syntax it does not know.
with open(f'{corpus}/dicom/no-meta-delimiter.dcm', 'wb') as f:
    f.write(ident() + delimited(10, b'UN'))
group = element(0x0002, 0x0001, b'OB', b'\0\1') + element(0x0002, 0x0010, b'UI', b'1.2.3.4.5.6\0')
with open(f'{corpus}/dicom/unknown-syntax-delimiter.dcm', 'wb') as f:
    f.write(b'\0' * 128 + b'DICM' + element(0x0002, 0x0000, b'UL', struct.pack('<I', len(group))) + group +
            ident() + delimited(10, b'UN'))
PY
for f in "$corpus"/dicom/nometa-*.dcm; do
  { printf '\000'; cat "$f"; } >"$corpus/received/$(basename "$f" .dcm)"
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
