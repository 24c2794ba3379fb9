#!/usr/bin/env bash
# Regenerates the expected chained file digests of file_hasher_test.cpp with
# md5sum, independently of the updater's own MD5 code.
#
# Input bytes: byte i = ((i mod 65521) * 131 + 17) mod 256, the same pattern
# as testsupport::PatternBytes. Chain over 32768-byte chunks: the first
# chunk's digest is its MD5; every later chunk's digest is the MD5 of the
# first <chunk length> bytes of (previous digest text + chunk). An empty file
# has an empty digest.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pattern() {  # pattern LENGTH > file
  python3 -c 'import sys
n = int(sys.argv[1])
sys.stdout.buffer.write(bytes((((i % 65521) * 131 + 17) & 0xff) for i in range(n)))' "$1"
}

chained() {  # chained FILE -> digest text
  local file=$1 size offset=0 chunk got digest=""
  size=$(stat -c %s "$file")
  while [ "$offset" -lt "$size" ]; do
    got=$(( size - offset < 32768 ? size - offset : 32768 ))
    tail -c +$((offset + 1)) "$file" | head -c "$got" >"$work/chunk"
    if [ "$offset" -eq 0 ]; then
      digest=$(md5sum <"$work/chunk" | cut -c1-32)
    else
      digest=$( { printf '%s' "$digest"; cat "$work/chunk"; } | head -c "$got" | md5sum | cut -c1-32)
    fi
    offset=$((offset + got))
  done
  printf '%s' "$digest"
}

for n in 0 10 32768 32769 65536 100000; do
  pattern "$n" >"$work/in"
  printf '{%d, "%s"},\n' "$n" "$(chained "$work/in")"
done
