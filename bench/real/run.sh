#!/usr/bin/env bash
# parvane-cli on real message files beside cat of the same bytes:
#   bench/real/run.sh [BUILD_DIR]
# Environment (all optional):
#   COPIES=20      copies of the shared corpus's message files (../shared/corpus/msg)
#   GENERATED=N    N generated small messages instead of the corpus
#   SOURCE=DIR     an existing folder of message files instead of either (kept)
#   ROUNDS=9       counted rounds; each runs every command once, in turning order
#   OLD=PATH       another parvane-cli (an earlier build), run in the same rounds
#   WORK=DIR       where the copies, stores and cat's output go (default a new
#                  folder in /tmp, removed at the end)
# Prints wall, CPU and peak memory of each command (median, min, max) and its
# exit statuses (parvane-cli exits 1 when it refused files: the shared corpus
# holds two broken ones); the ratios, round by round, of parvane-cli against
# cat, against cat followed by a sync of its output (the store is synced when
# it is closed) and against OLD; then the time of each stage of an import over
# the same files, one after another on one thread (parvane_bench_stages), in
# MB/s.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
cli=$build/src/cli/parvane-cli
stages=$build/bench/import/parvane_bench_stages
for tool in "$cli" "$stages"; do
  [[ -x $tool ]] || { echo "missing $tool: build it first" >&2; exit 2; }
done
rounds=${ROUNDS:-9}
work=${WORK:-}
if [[ -z $work ]]; then
  work=$(mktemp -d /tmp/parvane-bench-real-XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

if [[ -n ${SOURCE:-} ]]; then
  source=$(cd "$SOURCE" && pwd)
elif [[ -n ${GENERATED:-} ]]; then
  make=$build/bench/conversion/parvane_bench_conversion
  [[ -x $make ]] || { echo "missing $make: build it first" >&2; exit 2; }
  source=$work/source
  rm -rf "$source"
  "$make" make "$source" "$GENERATED" > /dev/null
else
  corpus=$here/../shared/corpus/msg
  [[ -d $corpus ]] || { echo "missing $corpus" >&2; exit 2; }
  source=$work/source
  rm -rf "$source"
  for ((i = 1; i <= ${COPIES:-20}; i++)); do
    mkdir -p "$source/c$i"
    cp -r "$corpus"/. "$source/c$i/"
  done
fi
files=$(find "$source" -name '*.msg' | wc -l)
bytes=$(find "$source" -name '*.msg' -print0 | xargs -0 cat | wc -c)
echo "== $files message files, $(awk -v b="$bytes" 'BEGIN { printf "%.1f MB", b / 1e6 }') in $source"
echo "   load: $(uptime | sed 's/.*load average/load average/')"
find "$source" -name '*.msg' -print0 | xargs -0 cat > /dev/null  # into the page cache

q() { printf '%q' "$1"; }
cat_cmd="find $(q "$source") -name '*.msg' -print0 | xargs -0 cat > $(q "$work/cat.bin")"
commands=("parvane-cli=rm -f $(q "$work/new.pst"); $(q "$cli") -q -o $(q "$work/new.pst") $(q "$source")"
          "cat=$cat_cmd"
          "cat+sync=$cat_cmd && sync $(q "$work/cat.bin")")
if [[ -n ${OLD:-} ]]; then
  commands+=("old=rm -f $(q "$work/old.pst"); $(q "$OLD") -q -o $(q "$work/old.pst") $(q "$source")")
fi
python3 "$here/bench/real/pairs.py" "$rounds" 1 "${commands[@]}"
rm -f "$work/cat.bin" "$work/old.pst"
echo "   load: $(uptime | sed 's/.*load average/load average/')"
pstcheck=$here/../shared/tools/pstcheck
[[ -x $pstcheck ]] && "$pstcheck" "$work/new.pst" | tail -n 1
rm -f "$work/new.pst"

echo "== each stage alone, one after another on one thread"
"$stages" "$source" "$work/stages.pst"
rm -f "$work/stages.pst"
