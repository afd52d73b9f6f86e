#!/usr/bin/env bash
# Fills a seed corpus for qv_dicom_fuzz_reader with the files the DICOM tests generate (every
# transfer syntax, colour model and damaged variant), keeping those up to 64 KB.
#   platform/dicom/fuzz/make-corpus.sh <corpus-folder> [<qv_dicom_tests binary>]
set -euo pipefail
corpus=${1:?corpus folder}
tests=${2:-build/test/platform/dicom/qv_dicom_tests}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$corpus"
TMPDIR="$work" QV_KEEP_TEST_FILES=1 "$tests" --gtest_filter='-Library.ShutdownEndsEveryCallback' >/dev/null 2>&1 || true
n=0
while IFS= read -r -d '' f; do
  cp "$f" "$corpus/seed-$n.dcm"
  n=$((n + 1))
done < <(find "$work" -type f -size -64k \( -name '*.dcm' -o -name 'thrumb0' \) -print0)
echo "make-corpus: $n seeds in $corpus"
