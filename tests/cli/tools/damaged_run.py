#!/usr/bin/python3
"""Converts damaged copies of the message corpus with parvane-cli and checks
that nothing breaks: the program ends with 0 or 1, every refused file is named,
the store passes pstcheck, and libpff reads exactly the messages converted.

  damaged_run.py CLI SHARED_DIR WORK_DIR --seed N --files N --mode bytes|fields

bytes:  random bytes flipped, the file cut short, or 4-byte fields set to
        extreme values anywhere in the file (mostly caught by the container
        checks).
fields: the compound file is left whole and what it holds is damaged in
        place: property entries (types, ids, flags, values, counts), value
        streams and the named-property streams. These reach the message and
        store layers.
Exit 0 when every check passes; otherwise the failures are printed.
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

import olefile

TYPES = [0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x000A, 0x000B,
         0x000D, 0x0014, 0x001E, 0x001F, 0x0040, 0x0048, 0x00FB, 0x00FD, 0x00FE, 0x0102,
         0x1002, 0x1003, 0x1014, 0x101E, 0x101F, 0x1040, 0x1048, 0x1102, 0xFFFF]
IDS = [0x0037, 0x001A, 0x0E07, 0x0C15, 0x3001, 0x3003, 0x3701, 0x3705, 0x3707, 0x1000,
       0x1009, 0x8000, 0x8FFF, 0xFFFF]
EXTREMES = [0, 1, 2, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF]


def corpus_files(shared):
    root = os.path.join(shared, "corpus", "msg")
    found = []
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if name.lower().endswith(".msg") and os.path.getsize(path) < 3_000_000:
                found.append(path)
    return sorted(found)


def damage_bytes(rng, data):
    data = bytearray(data)
    kind = rng.random()
    if kind < 0.6:
        for _ in range(rng.randint(1, 20)):
            data[rng.randrange(len(data))] = rng.randrange(256)
    elif kind < 0.8:
        del data[rng.randrange(len(data) + 1):]
    else:
        for _ in range(rng.randint(1, 4)):
            at = rng.randrange(max(1, len(data) - 4)) & ~3
            data[at:at + 4] = struct.pack("<I", rng.choice(EXTREMES))
    return bytes(data)


def property_stream_header(path):
    # 32 bytes for the message, 24 for an embedded one, 8 for recipients and attachments
    if len(path) == 1:
        return 32
    return 24 if path[-2].startswith("__substg1.0_3701") else 8


def flip_bytes(rng, ole, streams, most):
    """Up to `most` bytes of one of `streams` set at random, its size kept."""
    stream = rng.choice(streams)
    data = bytearray(ole.openstream(stream).read())
    if data:
        for _ in range(rng.randint(1, most)):
            data[rng.randrange(len(data))] = rng.randrange(256)
        ole.write_stream(stream, bytes(data))


def damage_fields(rng, path):
    ole = olefile.OleFileIO(path, write_mode=True)
    try:
        streams = ole.listdir(streams=True, storages=False)
        props = [s for s in streams if s[-1].startswith("__properties_version1.0")]
        values = [s for s in streams if s[-1].startswith("__substg1.0_")]
        names = [s for s in streams if s[0] == "__nameid_version1.0"]
        for _ in range(rng.randint(1, 6)):
            pick = rng.random()
            if pick < 0.55 and props:
                stream = rng.choice(props)
                data = bytearray(ole.openstream(stream).read())
                header = property_stream_header(stream)
                entries = (len(data) - header) // 16
                if entries <= 0:
                    continue
                at = header + 16 * rng.randrange(entries)
                field = rng.random()
                if field < 0.3:
                    struct.pack_into("<H", data, at, rng.choice(TYPES))
                elif field < 0.5:
                    struct.pack_into("<H", data, at + 2, rng.choice(IDS + [rng.randrange(0x10000)]))
                elif field < 0.75:
                    struct.pack_into("<I", data, at + 8, rng.choice(EXTREMES + [rng.randrange(1 << 32)]))
                elif field < 0.9:
                    struct.pack_into("<I", data, at + 4, rng.randrange(1 << 32))
                else:
                    struct.pack_into("<I", data, at + 12, rng.randrange(1 << 32))
                if header > 8 and rng.random() < 0.2:  # recipient and attachment counts
                    struct.pack_into("<I", data, rng.choice([8, 12, 16, 20]), rng.choice(EXTREMES))
                ole.write_stream(stream, bytes(data))
            elif pick < 0.85 and values:
                flip_bytes(rng, ole, values, 8)
            elif names:
                flip_bytes(rng, ole, names, 4)
    finally:
        ole.close()


def message_count(pst):
    import pypff
    store = pypff.file()
    store.open(pst)

    def count(folder):
        return folder.number_of_sub_messages + sum(
            count(folder.get_sub_folder(i)) for i in range(folder.number_of_sub_folders))

    return count(store.get_root_folder())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("shared")
    ap.add_argument("work")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--files", type=int, default=300)
    ap.add_argument("--mode", choices=["bytes", "fields"], default="fields")
    args = ap.parse_args()

    rng = random.Random(args.seed)
    corpus = corpus_files(args.shared)
    if args.mode == "fields":
        corpus = [p for p in corpus if olefile.isOleFile(p)]
    source = os.path.join(args.work, "src")
    out = os.path.join(args.work, "out")
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(out)
    for i in range(args.files):
        folder = os.path.join(source, "d%d" % (i % 5))
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "m%d.msg" % i)
        original = rng.choice(corpus)
        if args.mode == "bytes":
            with open(original, "rb") as f:
                data = damage_bytes(rng, f.read())
            with open(target, "wb") as f:
                f.write(data)
        else:
            shutil.copyfile(original, target)
            damage_fields(rng, target)

    run = subprocess.run([args.cli, "--quiet", "-o", out, source], capture_output=True, text=True, timeout=600)
    problems = []
    if run.returncode not in (0, 1):
        problems.append("parvane-cli ended with %d:\n%s" % (run.returncode, run.stderr[-3000:]))
    refused = [l for l in run.stderr.splitlines() if l.startswith("parvane-cli: cannot convert ")]
    if len(refused) != len(run.stderr.splitlines()):
        problems.append("standard error holds other lines than refusals:\n" + run.stderr[-3000:])
    lines = run.stdout.strip().splitlines()
    pst = lines[-1] if lines else ""
    if not problems and os.path.isfile(pst):
        check = subprocess.run([os.path.join(args.shared, "tools", "pstcheck"), pst], capture_output=True, text=True)
        if check.returncode != 0:
            problems.append("pstcheck:\n" + check.stdout[-3000:])
        converted = args.files - len(refused)
        read = message_count(pst)
        if read != converted:
            problems.append("libpff reads %d messages, %d were converted" % (read, converted))
    elif not problems:
        problems.append("no store: %r" % run.stdout)
    print("%s seed %d: %d files, %d refused" % (args.mode, args.seed, args.files, len(refused)))
    for p in problems:
        print("FAIL " + p)
    if not problems:
        shutil.rmtree(args.work, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
