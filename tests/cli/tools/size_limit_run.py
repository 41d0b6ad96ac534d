#!/usr/bin/python3
"""Runs parvane-cli --max-store-size over 20 linked copies of the corpus at
sizes where stores once passed their limit, and checks that no store's file
is larger than SIZE, that each store passes pstcheck and pstwalk
(Microsoft's reader), and that the stores together hold every converted
message (libpff counts them).

  size_limit_run.py CLI SHARED_DIR WORK_DIR [SIZE...]   (default: 90M 100M 200M)

Needs about 1 GB of disk in WORK_DIR while it runs; each size's stores are
removed once checked. Exit 0 when every check passes.
"""
import json
import os
import shutil
import subprocess
import sys

import pypff

COPIES = 20


def linked_copies(shared, work):
    """COPIES trees of symbolic links to the corpus's .msg files."""
    corpus = os.path.abspath(os.path.join(shared, "corpus", "msg"))
    tree = os.path.join(work, "copies")
    shutil.rmtree(tree, ignore_errors=True)
    for k in range(COPIES):
        for folder, _, names in os.walk(corpus):
            for name in names:
                if not name.lower().endswith(".msg"):
                    continue
                to = os.path.join(tree, "copy%02d" % k, os.path.relpath(folder, corpus))
                os.makedirs(to, exist_ok=True)
                os.symlink(os.path.join(folder, name), os.path.join(to, name))
    return tree


def messages_in(pst):
    store = pypff.file()
    store.open(pst)
    count = 0
    folders = [store.get_root_folder()]
    while folders:
        folder = folders.pop()
        count += folder.get_number_of_sub_messages()
        folders.extend(folder.get_sub_folder(k) for k in range(folder.get_number_of_sub_folders()))
    store.close()
    return count


def main():
    cli, shared, work = sys.argv[1:4]
    sizes = sys.argv[4:] or ["90M", "100M", "200M"]
    checker = os.path.join(shared, "tools", "pstcheck")
    os.makedirs(work, exist_ok=True)
    tree = linked_copies(shared, work)
    failures = []
    for size in sizes:
        limit = int(size[:-1]) << {"K": 10, "M": 20, "G": 30}[size[-1]]
        out = os.path.join(work, "out-" + size)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        report = os.path.join(work, "report-%s.jsonl" % size)
        run = subprocess.run([cli, "--quiet", "--max-store-size", size, "--report", report, "-o", out, tree],
                             capture_output=True, text=True)
        if run.returncode not in (0, 1):
            failures.append(f"{size}: exit status {run.returncode}: {run.stderr[-500:]}")
            continue
        stores = run.stdout.split("\n")[:-1]
        with open(report, encoding="utf-8") as f:
            summary = [json.loads(line) for line in f][-1]
        if len(stores) < 2:
            failures.append(f"{size}: {len(stores)} store(s); the run should need several")
        held = 0
        for store in stores:
            bytes_ = os.path.getsize(store)
            print(f"{size}: {os.path.basename(store)} {bytes_} bytes ({limit - bytes_} under the limit)")
            if bytes_ > limit:
                failures.append(f"{size}: {store} has {bytes_} bytes, {bytes_ - limit} past the limit")
            check = subprocess.run([checker, store], capture_output=True, text=True)
            if check.returncode != 0:
                failures.append(f"{size}: pstcheck refuses {store}: {check.stdout[-500:]}")
            held += messages_in(store)
        walk = subprocess.run([os.path.join(shared, "tools", "pstwalk", "pstwalk")] + stores,
                              capture_output=True, text=True)
        if walk.returncode != 0:
            failures.append(f"{size}: pstwalk refuses a store: {walk.stdout[-1000:]}")
        if held != summary["converted"]:
            failures.append(f"{size}: the stores hold {held} messages, the run converted {summary['converted']}")
        shutil.rmtree(out)
    shutil.rmtree(tree)
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
