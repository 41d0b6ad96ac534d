#!/usr/bin/env bash
# Message-reader benchmarks with their baselines, measured in the same run:
#   bench/msg/run.sh BUILD_DIR [ROUNDS]
# 1. Speed: every corpus file read ROUNDS times (default 20), beside `cat` of
#    the same files ROUNDS times.
# 2. Memory: a message with a 100 MiB attachment, read with the attachment
#    streamed, beside `dd` of the same file; peak resident memory of each.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?usage: run.sh BUILD_DIR [ROUNDS]}
rounds=${2:-20}
bench=$build/bench/msg/msg_bench
corpus=${PARVANE_SHARED_DIR:-$here/../shared}/corpus/msg
mapfile -t files < <(find "$corpus" -name '*.msg' | sort)

echo "== speed: ${#files[@]} files, $rounds rounds"
"$bench" read "$rounds" "${files[@]}"
bytes=$(cat "${files[@]}" | wc -c)
times=$( { /usr/bin/time -f "%e %U %S" bash -c 'r=$1; shift; for ((i = 0; i < r; i++)); do cat "$@" > /dev/null; done' _ "$rounds" "${files[@]}"; } 2>&1 )
read -r wall user sys <<< "$times"
awk -v b="$bytes" -v r="$rounds" -v t="$wall" -v u="$user" -v k="$sys" \
  'BEGIN { printf "cat baseline: %.1f MB in %.3f s = %.1f MB/s (CPU %.3f s)\n", b * r / 1e6, t, b * r / 1e6 / t, u + k }'

echo "== memory: 100 MiB attachment"
big=$(mktemp /tmp/parvane-big-XXXXXX.msg)
trap 'rm -f "$big"' EXIT
"$bench" make "$big" 100
/usr/bin/time -f "msg_bench memory: max RSS %M KiB, %e s" "$bench" memory "$big"
/usr/bin/time -f "dd baseline: max RSS %M KiB, %e s" dd if="$big" of=/dev/null bs=64k status=none
