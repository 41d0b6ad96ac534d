#!/usr/bin/python3
"""Runs parvane-cli --report on small trees and checks the report against the
store that libpff reads back: one line per listed file, and the files reported
as converted are exactly those whose messages are in the store.

  report_run.py CLI SHARED_DIR WORK_DIR

mixed:     good corpus files in three folders, a damaged one, a FIFO and a
           dangling link; the subjects of each store folder's messages are
           those of its converted files.
vanished:  a listed file removed while the run goes on is refused, and the
           store holds every other one.
stopped:   SIGTERM once the store exists; the store's folders hold as many
           messages as the report counts converted in each.
storefull: the store cannot grow past a file-size limit (as on a full disk):
           the run stops, and the report calls converted exactly the messages
           the store's file keeps.
split:     --max-store-size spreads the run over numbered stores: each holds
           exactly the files the report names with it.
refused:   a report that cannot be written, or would be the store, stops the
           command before any store is made.
Exit 0 when every check passes; otherwise the failures are printed.
"""
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import time

import olefile
import pypff

failures = []
# Large enough for a run to last well past the store's creation; linked, not copied.
BIG = ("TeamMsgExtractor-msg-extractor", "unicode.msg")


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def subject_of_msg(path):
    """The subject as our reader's sources write it (Unicode), or None."""
    ole = olefile.OleFileIO(path)
    try:
        if ole.exists("__substg1.0_0037001F"):
            return ole.openstream("__substg1.0_0037001F").read().decode("utf-16-le").rstrip("\0")
        return None
    finally:
        ole.close()


def store_folders(pst):
    """{folder path below the store's top folder, joined with "\\": [subjects]}."""
    store = pypff.file()
    store.open(pst)
    found = {}

    def walk(folder, path):
        subjects = [folder.get_sub_message(k).get_subject() or ""
                    for k in range(folder.get_number_of_sub_messages())]
        if len(path) > 1 and subjects:
            found["\\".join(path[1:])] = sorted(subjects)
        for k in range(folder.get_number_of_sub_folders()):
            child = folder.get_sub_folder(k)
            walk(child, path + [child.get_name()])

    walk(store.get_root_folder(), [])
    store.close()
    return found


def read_report(path):
    with open(path, encoding="utf-8") as f:
        lines = [json.loads(line) for line in f]
    if not check(lines and lines[-1].get("summary") is True, f"{path}: no summary line last"):
        return [], {}
    check(all("summary" not in line for line in lines[:-1]), f"{path}: a summary line before the last")
    return lines[:-1], lines[-1]


def store_folder_of(path):
    return os.path.dirname(path).strip("/").replace("/", "\\")


def tree_messages(tree):
    """Every name ending in .msg below `tree` that is not a link."""
    return sorted(os.path.join(d, n) for d, _, ns in os.walk(tree) for n in ns
                  if n.lower().endswith(".msg") and not os.path.islink(os.path.join(d, n)))


def check_lines(files, summary, listed, result):
    """Every listed file once, with its size and folder; the summary adds up."""
    check(sorted(f["path"] for f in files) == sorted(listed),
          f"report paths differ from the tree: {sorted(f['path'] for f in files)[:3]}... vs {sorted(listed)[:3]}...")
    for f in files:
        regular = os.path.isfile(f["path"])
        check(f["size"] == (os.path.getsize(f["path"]) if regular else None), f"{f['path']}: size {f['size']}")
        check(f["folder"] == store_folder_of(f["path"]), f"{f['path']}: folder {f['folder']}")
        check(f["outcome"] in ("converted", "refused"), f"{f['path']}: outcome {f['outcome']}")
        check((f["reason"] is None) == (f["outcome"] == "converted"), f"{f['path']}: reason {f['reason']}")
    for f in files:
        if f["outcome"] == "converted":
            check(f["store"] in summary["stores"], f"{f['path']}: store {f['store']}")
        else:
            check(f["store"] is None, f"{f['path']}: refused, but in store {f['store']}")
    check(summary["stores"][:1] == ([summary["store"]] if summary["store"] else []),
          f"summary stores {summary['stores']}, store {summary['store']}")
    converted = sum(f["outcome"] == "converted" for f in files)
    check(summary["converted"] == converted and summary["refused"] == len(files) - converted
          and summary["listed"] == len(files), f"summary counts {summary}")
    check(summary["exit_status"] == result.returncode,
          f"summary exit status {summary['exit_status']}, the program's {result.returncode}")
    check(summary["seconds"] >= 0, f"summary seconds {summary['seconds']}")
    stdout = result.stdout.strip().splitlines()
    check(stdout == summary["stores"], f"summary stores {summary['stores']} vs {stdout}")


def check_store_holds_converted(files, summary, name, by_subject=True):
    """The store's folders hold exactly the converted files: their subjects, or their count."""
    expected = {}
    for f in files:
        if f["outcome"] == "converted":
            expected.setdefault(f["folder"], []).append(subject_of_msg(f["path"]) if by_subject else "")
    found = store_folders(summary["store"])
    if by_subject:
        expected = {k: sorted(v) for k, v in expected.items()}
    else:
        expected = {k: len(v) for k, v in expected.items()}
        found = {k: len(v) for k, v in found.items()}
    check(found == expected, f"{name}: the store holds {found}, the report says {expected}")


def big_tree(shared, tree, folders, per_folder):
    source = os.path.join(shared, "corpus", "msg", *BIG)
    for k in range(folders):
        os.makedirs(os.path.join(tree, f"F{k}"))
        for n in range(per_folder):
            os.link(source, os.path.join(tree, f"F{k}", f"{n:04}.msg"))


def start(cli, work, tree, options=(), **popen):
    out = os.path.join(work, "out")
    os.makedirs(out)
    report = os.path.join(work, "report.jsonl")
    program = subprocess.Popen([cli, "-q", "--report", report, *options, "-o", out, tree],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **popen)
    return program, out, report


def wait_for_store(program, out):
    deadline = time.monotonic() + 60
    while not os.listdir(out) and program.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)


def finish(program):
    stdout, stderr = program.communicate(timeout=300)
    return subprocess.CompletedProcess(program.args, program.returncode, stdout, stderr)


def mixed(cli, shared, work):
    corpus = os.path.join(shared, "corpus", "msg")
    with_subject = []
    for d, _, names in sorted(os.walk(corpus)):
        for name in sorted(names):
            path = os.path.join(d, name)
            if name.endswith(".msg") and os.path.getsize(path) < 100_000 and subject_of_msg(path):
                with_subject.append(path)
    tree = os.path.join(work, "mail")
    plan = {"Work": with_subject[0:4], "Home": with_subject[4:7], "Deep/Er": with_subject[7:9]}
    for folder, sources in plan.items():
        os.makedirs(os.path.join(tree, folder))
        for k, source in enumerate(sources):
            shutil.copy(source, os.path.join(tree, folder, f"{k}-{os.path.basename(source)}"))
    broken = os.path.join(tree, "Home", "broken.msg")
    with open(with_subject[0], "rb") as f:
        data = bytearray(f.read())
    data[0] ^= 0xFF  # the compound file's signature
    with open(broken, "wb") as f:
        f.write(data)
    fifo = os.path.join(tree, "Work", "fifo.msg")
    os.mkfifo(fifo)
    dangling = os.path.join(tree, "Deep", "gone.msg")
    os.symlink(os.path.join(work, "nothing.msg"), dangling)

    program, out, report = start(cli, work, tree)
    result = finish(program)
    check(result.returncode == 1, f"mixed: exit {result.returncode}\n{result.stderr}")
    files, summary = read_report(report)
    check_lines(files, summary, tree_messages(tree), result)
    refused = sorted(f["path"] for f in files if f["outcome"] == "refused")
    check(refused == sorted([broken, fifo]), f"mixed: refused {refused}")
    for f in files:
        if f["outcome"] == "refused":
            check(f["reason"] and f"{f['path']}: {f['reason']}" in result.stderr,
                  f"mixed: reason {f['reason']!r} not on stderr")
    check(summary["skipped_links"] == [dangling], f"mixed: skipped links {summary['skipped_links']}")
    check(summary["stopped"] is False and summary["store_failure"] is None, f"mixed: summary {summary}")
    if summary.get("store"):
        check_store_holds_converted(files, summary, "mixed")


def vanished(cli, shared, work):
    tree = os.path.join(work, "mail")
    big_tree(shared, tree, 2, 100)
    listed = tree_messages(tree)
    gone = listed[-1]
    program, out, report = start(cli, work, tree)
    wait_for_store(program, out)
    os.remove(gone)  # read a few files ahead at most: the last one is far off
    result = finish(program)
    check(result.returncode == 1, f"vanished: exit {result.returncode}\n{result.stderr}")
    files, summary = read_report(report)
    check_lines(files, summary, listed, result)
    refused = [f for f in files if f["outcome"] == "refused"]
    check([f["path"] for f in refused] == [gone], f"vanished: refused {refused}")
    check(all("No such file" in f["reason"] for f in refused), f"vanished: reasons {refused}")
    if summary.get("store"):
        check_store_holds_converted(files, summary, "vanished", by_subject=False)


def stopped(cli, shared, work):
    tree = os.path.join(work, "mail")
    big_tree(shared, tree, 4, 300)
    program, out, report = start(cli, work, tree)
    wait_for_store(program, out)
    program.send_signal(signal.SIGTERM)
    result = finish(program)
    check(result.returncode == 128 + signal.SIGTERM, f"stopped: exit {result.returncode}\n{result.stderr}")
    files, summary = read_report(report)
    check_lines(files, summary, tree_messages(tree), result)
    check(summary["stopped"] is True and summary["converted"] < len(files),
          f"stopped: the summary shows no stop: {summary}")
    if summary.get("store"):
        check_store_holds_converted(files, summary, "stopped", by_subject=False)


def storefull(cli, shared, work):
    tree = os.path.join(work, "mail")
    big_tree(shared, tree, 2, 40)
    limit = 100 << 20  # past the store's first commit (every 64 MiB), short of all 80 messages

    def limited():
        # Writes past the limit fail (EFBIG) instead of ending the program.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    program, out, report = start(cli, work, tree, preexec_fn=limited)
    result = finish(program)
    check(result.returncode == 1, f"storefull: exit {result.returncode}\n{result.stderr}")
    check("the store failed:" in result.stderr, f"storefull: no store failure told\n{result.stderr}")
    files, summary = read_report(report)
    check_lines(files, summary, tree_messages(tree), result)
    converted = sum(f["outcome"] == "converted" for f in files)
    check(0 < converted < len(files) and summary["store_failure"],
          f"storefull: {converted} of {len(files)} converted, {summary}")
    for f in files:
        if f["outcome"] == "refused":
            check(f["reason"].startswith("the store failed: "), f"storefull: {f['path']}: {f['reason']}")
    if summary.get("store"):
        check_store_holds_converted(files, summary, "storefull", by_subject=False)


def split(cli, shared, work):
    tree = os.path.join(work, "mail")
    big_tree(shared, tree, 2, 5)
    program, out, report = start(cli, work, tree, options=("--max-store-size", "5M"))
    result = finish(program)
    check(result.returncode == 0, f"split: exit {result.returncode}\n{result.stderr}")
    files, summary = read_report(report)
    check_lines(files, summary, tree_messages(tree), result)
    check(len(summary["stores"]) > 1, f"split: one store only: {summary['stores']}")
    for store in summary["stores"]:
        expected = {}
        for f in files:
            if f["store"] == store:
                expected[f["folder"]] = expected.get(f["folder"], 0) + 1
        found = {k: len(v) for k, v in store_folders(store).items()}
        check(found == expected, f"split: {store} holds {found}, the report says {expected}")


def refused(cli, shared, work):
    source = os.path.join(shared, "corpus", "msg", *BIG)
    os.makedirs(os.path.join(work, "mail"))
    os.link(source, os.path.join(work, "mail", "a.msg"))
    out = os.path.join(work, "out")
    os.makedirs(out)
    store = os.path.join(out, "x.pst")
    for report in (os.path.join(work, "missing", "report.jsonl"), store, out,
                   os.path.join(work, "mail", "a.msg")):
        result = subprocess.run([cli, "-q", "--report", report, "-o", store, os.path.join(work, "mail")],
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 2 and "report" in result.stderr,
              f"refused: --report {report}: exit {result.returncode}, {result.stderr!r}")
        check(os.listdir(out) == [], f"refused: --report {report} left {os.listdir(out)}")
    check(os.path.getsize(os.path.join(work, "mail", "a.msg")) == os.path.getsize(source),
          "refused: the message file named as the report was changed")


def main():
    cli, shared, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    for name, scenario in (("mixed", mixed), ("vanished", vanished), ("stopped", stopped),
                           ("storefull", storefull), ("split", split), ("refused", refused)):
        before = len(failures)
        os.makedirs(os.path.join(work, name))
        scenario(cli, shared, os.path.join(work, name))
        print(f"{name}: {'ok' if len(failures) == before else 'FAILED'}")
    shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
