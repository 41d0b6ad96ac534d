#!/usr/bin/env bash
# The cost of folders: the same small messages through parvane-cli in folder
# layouts of a few to 100,000 folders, each beside cat of the same files:
#   bench/store/folders.sh BUILD_DIR [LAYOUTS] [WORK_DIR]
# LAYOUTS (default "flat100 parent10k chains10k spread100k"), each a name of
#   flat100      100,000 messages in 100 folders, 1,000 each, under one parent
#   flat1k       100,000 messages in 1,000 folders, 100 each, under one parent
#   parent10k    100,000 messages in 10,000 folders, 10 each, under one parent
#   parent20k    100,000 messages in 20,000 folders, 5 each, under one parent
#   chains10k    100,000 messages in 10,000 folders, 10 each, in 100 chains
#                100 folders deep (every folder holds messages)
#   spread100k   100,000 messages in 100,000 folders, one each, 100 folders
#                to a parent (1,000 parents)
# The messages are hard links to 2,000 generated ones (text body, two
# recipients, every third with a 2 KB attachment; about 10.7 KB each), so a
# layout costs its links only. ROUNDS=N (default 3) runs parvane-cli and cat
# in turn N times a layout (bench/real/pairs.py: wall, CPU = user + system,
# peak RSS of the finished process), and prints the load average before and
# after. CHECK=1 has pstcheck read every layout's last store. WORK_DIR
# (default a new folder in /tmp) needs room for one store (about 1.2 GB).
set -euo pipefail
build=$(cd "${1:?usage: folders.sh BUILD_DIR [LAYOUTS] [WORK_DIR]}" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
layouts=${2-"flat100 parent10k chains10k spread100k"}
work=${3:-$(mktemp -d /tmp/parvane-folders-XXXXXX)}
rounds=${ROUNDS:-3}
cli=$build/src/cli/parvane-cli
make=$build/bench/conversion/parvane_bench_conversion
for tool in "$cli" "$make"; do
  [[ -x $tool ]] || { echo "missing $tool: build it first" >&2; exit 2; }
done
mkdir -p "$work"
trap 'rm -rf "$work/base" "$work/src" "$work/out.pst" "$work/cat.bin"' EXIT

rm -rf "$work/base"
"$make" make "$work/base" 2000 1 > /dev/null

# the layout's folders under "$work/src": link LAYOUT
link() {
  /usr/bin/python3 - "$work/base/folder0" "$work/src" "$1" <<'PY'
import os, sys
base, root, layout = sys.argv[1], sys.argv[2], sys.argv[3]
names = sorted(os.listdir(base))
messages = 100000
def folder_of(j):
    if layout == "flat100":
        return os.path.join("all", "f%03d" % (j // 1000))
    if layout == "flat1k":
        return os.path.join("all", "f%04d" % (j // 100))
    if layout == "parent10k":
        return os.path.join("all", "f%05d" % (j // 10))
    if layout == "parent20k":
        return os.path.join("all", "f%05d" % (j // 5))
    if layout == "chains10k":
        f = j // 10
        chain, depth = f // 100, f % 100
        return os.path.join("c%02d" % chain, *["d%02d" % d for d in range(depth + 1)])
    if layout == "spread100k":
        return os.path.join("p%03d" % (j // 100), "f%05d" % j)
    sys.exit("unknown layout " + layout)
made = set()
for j in range(messages):
    folder = os.path.join(root, folder_of(j))
    if folder not in made:
        os.makedirs(folder, exist_ok=True)
        made.add(folder)
    os.link(os.path.join(base, names[j % len(names)]), os.path.join(folder, "m%06d.msg" % j))
print(len(made))
PY
}

load() { uptime | sed 's/.*load average: //'; }
q() { printf '%q' "$1"; }
for layout in $layouts; do
  rm -rf "$work/src"
  folders=$(link "$layout")
  find "$work/src" -name '*.msg' -print0 | xargs -0 cat > /dev/null  # into the page cache
  echo "== $layout: 100000 messages in $folders folders (load before: $(load))"
  cat_cmd="find $(q "$work/src") -name '*.msg' -print0 | xargs -0 cat > $(q "$work/cat.bin")"
  /usr/bin/python3 "$here/bench/real/pairs.py" "$rounds" 0 \
    "parvane-cli=rm -f $(q "$work/out.pst"); $(q "$cli") -q -o $(q "$work/out.pst") $(q "$work/src")" \
    "cat=$cat_cmd; rm -f $(q "$work/cat.bin")"
  echo "   load after: $(load); store $(stat -c %s "$work/out.pst") bytes"
  if [[ ${CHECK:-0} != 0 ]]; then
    /usr/bin/python3 "$here/../shared/tools/pstcheck" "$work/out.pst" | tail -n 1
  fi
  rm -f "$work/out.pst"
done
