#!/usr/bin/python3
"""Runs parvane-cli --report on small trees and checks the report against the
store that libpff reads back: one line per listed file, and the files reported
as converted are exactly those whose messages are in the store.

  report_run.py CLI SHARED_DIR WORK_DIR

mixed:   good corpus files in three folders and a damaged one; the subjects of
         each store folder's messages are those of its converted files.
stopped: SIGTERM once the store exists; the store's folders hold as many
         messages as the report counts converted in each.
refused: a report that cannot be written, or would be the store, stops the
         command before any store is made.
Exit 0 when every check passes; otherwise the failures are printed.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

import olefile
import pypff

failures = []


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
    """{folder path below the top folder, joined with "\\": [subjects]}."""
    store = pypff.file()
    store.open(pst)
    found = {}

    def walk(folder, path):
        subjects = [folder.get_sub_message(k).get_subject() or ""
                    for k in range(folder.get_number_of_sub_messages())]
        if path and subjects:
            found["\\".join(path)] = sorted(subjects)
        for k in range(folder.get_number_of_sub_folders()):
            child = folder.get_sub_folder(k)
            walk(child, path + [child.get_name()] if path or child.get_name() != "Top of Outlook data file"
                 else [])

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


def check_lines_against_tree(files, summary, tree, result):
    """Every .msg of the tree once, with its size and folder; the summary adds up."""
    listed = sorted(os.path.join(d, n) for d, _, ns in os.walk(tree) for n in ns if n.endswith(".msg"))
    check(sorted(f["path"] for f in files) == listed,
          f"report paths differ from the tree: {sorted(f['path'] for f in files)[:3]}... vs {listed[:3]}...")
    for f in files:
        check(f["size"] == os.path.getsize(f["path"]), f"{f['path']}: size {f['size']}")
        check(f["folder"] == store_folder_of(f["path"]), f"{f['path']}: folder {f['folder']}")
        check(f["outcome"] in ("converted", "refused"), f"{f['path']}: outcome {f['outcome']}")
        check((f["reason"] is None) == (f["outcome"] == "converted"), f"{f['path']}: reason {f['reason']}")
    converted = sum(f["outcome"] == "converted" for f in files)
    check(summary["converted"] == converted and summary["refused"] == len(files) - converted
          and summary["listed"] == len(files), f"summary counts {summary}")
    check(summary["exit_status"] == result.returncode,
          f"summary exit status {summary['exit_status']}, the program's {result.returncode}")
    check(summary["seconds"] >= 0, f"summary seconds {summary['seconds']}")
    stdout = result.stdout.strip().splitlines()
    check(stdout and summary["store"] == stdout[-1], f"summary store {summary['store']} vs {stdout}")


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

    out = os.path.join(work, "out")
    os.makedirs(out)
    report = os.path.join(work, "report.jsonl")
    result = subprocess.run([cli, "-q", "--report", report, "-o", out, tree],
                            capture_output=True, text=True, timeout=120)
    check(result.returncode == 1, f"mixed: exit {result.returncode}\n{result.stderr}")
    files, summary = read_report(report)
    check_lines_against_tree(files, summary, tree, result)
    refused = [f for f in files if f["outcome"] == "refused"]
    check([f["path"] for f in refused] == [broken], f"mixed: refused {refused}")
    for f in refused:
        check(f["reason"] and f["reason"] in result.stderr, f"mixed: reason {f['reason']!r} not on stderr")

    expected = {}
    for f in files:
        if f["outcome"] == "converted":
            expected.setdefault(f["folder"], []).append(subject_of_msg(f["path"]))
    expected = {k: sorted(v) for k, v in expected.items()}
    if summary.get("store"):
        found = store_folders(summary["store"])
        check(found == expected, f"mixed: the store holds {found}, the report says {expected}")


def stopped(cli, shared, work):
    source = os.path.join(shared, "corpus", "msg", "TeamMsgExtractor-msg-extractor", "unicode.msg")
    tree = os.path.join(work, "mail")
    for k in range(4):
        os.makedirs(os.path.join(tree, f"F{k}"))
        for n in range(300):
            shutil.copy(source, os.path.join(tree, f"F{k}", f"{n:04}.msg"))
    out = os.path.join(work, "out")
    os.makedirs(out)
    report = os.path.join(work, "report.jsonl")
    program = subprocess.Popen([cli, "-q", "--report", report, "-o", out, tree],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 60
    while not os.listdir(out) and program.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    program.send_signal(signal.SIGTERM)
    stdout, stderr = program.communicate(timeout=120)
    result = subprocess.CompletedProcess(program.args, program.returncode, stdout, stderr)
    check(result.returncode == 128 + signal.SIGTERM, f"stopped: exit {result.returncode}\n{stderr}")
    files, summary = read_report(report)
    check_lines_against_tree(files, summary, tree, result)
    check(summary["stopped"] is True and summary["converted"] < len(files),
          f"stopped: the summary shows no stop: {summary}")
    expected = {}
    for f in files:
        if f["outcome"] == "converted":
            expected[f["folder"]] = expected.get(f["folder"], 0) + 1
    if summary.get("store"):
        found = {k: len(v) for k, v in store_folders(summary["store"]).items()}
        check(found == expected, f"stopped: the store holds {found}, the report says {expected}")


def refused(cli, shared, work):
    source = os.path.join(shared, "corpus", "msg", "TeamMsgExtractor-msg-extractor", "unicode.msg")
    os.makedirs(os.path.join(work, "mail"))
    shutil.copy(source, os.path.join(work, "mail"))
    out = os.path.join(work, "out")
    os.makedirs(out)
    store = os.path.join(out, "x.pst")
    for report in (os.path.join(work, "missing", "report.jsonl"), store, out):
        result = subprocess.run([cli, "-q", "--report", report, "-o", store, os.path.join(work, "mail")],
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 2 and "report" in result.stderr,
              f"refused: --report {report}: exit {result.returncode}, {result.stderr!r}")
        check(os.listdir(out) == [], f"refused: --report {report} left {os.listdir(out)}")


def main():
    cli, shared, work = sys.argv[1:4]
    shutil.rmtree(work, ignore_errors=True)
    for name, scenario in (("mixed", mixed), ("stopped", stopped), ("refused", refused)):
        before = len(failures)
        os.makedirs(os.path.join(work, name))
        scenario(cli, shared, os.path.join(work, name))
        print(f"{name}: {'ok' if len(failures) == before else 'FAILED'}")
    for failure in failures:
        print("FAIL:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
