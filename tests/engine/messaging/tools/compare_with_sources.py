#!/usr/bin/python3
"""Compares a store with the .msg files imported into it, through readers
independent of ours: olefile for the sources, libpff (pypff) and the pstcheck
tool's reader for the store. Usage: compare_with_sources.py STORE MANIFEST
MANIFEST: one line per imported file, "folder path<TAB>file", in import order
(folder path relative to the store's top folder, components joined by "\\").
Prints one line per difference and exits 1 if there is any."""
import codecs, collections, struct, sys
import os
import olefile, pypff
from shared_checker import load_checker
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "..", "support"))
import string8  # noqa: E402

def source(path):
    o = olefile.OleFileIO(path)
    def props(prefix, header):
        out = {}
        d = o.openstream(prefix + "__properties_version1.0").read()
        for i in range(header, len(d) - 15, 16):
            tag, _, v = struct.unpack_from("<IIQ", d, i)
            out[tag] = v & 0xFFFFFFFF
        return out
    top = props("", 32)
    pages = (top.get(0x3FFD0003), top.get(0x3FF10003), top.get(0x3FDE0003))
    unclean = []
    def text(prefix, pid, own):
        name = prefix + "__substg1.0_%04X001F" % pid
        if o.exists(name):
            return o.openstream(name).read().decode("utf-16-le", "replace").rstrip("\0")
        name = prefix + "__substg1.0_%04X001E" % pid
        if o.exists(name):
            raw = o.openstream(name).read().rstrip(b"\0")
            value, clean = string8.decode(raw, *pages, pid == 0x1000)
            if not clean:
                unclean.append(pid)
            return value
        return ""
    recips, atts = [], []
    for entry in sorted(o.listdir(streams=False, storages=True)):
        if len(entry) != 1:
            continue
        if entry[0].startswith("__recip_version1.0_#"):
            p = entry[0] + "/"
            recips.append((text(p, 0x3001, False), text(p, 0x3003, False)))
        elif entry[0].startswith("__attach_version1.0_#"):
            p = entry[0] + "/"
            data = p + "__substg1.0_37010102"
            atts.append(o.openstream(data).read() if o.exists(data) else None)
    return {"subject": text("", 0x0037, True), "body": text("", 0x1000, True), "recips": recips, "atts": atts,
            "unclean": unclean}

def messages_by_nid(path):
    """message NID -> body, subject and sorted (display name, email) of its
    recipient table, read by pstcheck's reader (exact UTF-16, unlike libpff's
    UTF-8 conversion of surrogate pairs)."""
    pm = load_checker()
    chk = pm.Checker(path, pm.Report())
    chk.open(); chk.check_header(); chk.walk_btrees(); chk.check_blocks()
    t = chk.nbt
    out = {}
    for i in range(len(t["nid"])):
        nid = t["nid"][i]
        if nid & 0x1F != 4:
            continue
        ctx = chk.open_node(nid, t["data"][i], t["sub"][i], "x")
        props = chk.pc(ctx, "m", set(), load_subnodes=True) or {}
        def text(pid):
            v = props.get(pid)
            return bytes(v[1]).decode("utf-16-le", "replace") if v and isinstance(v[1], (bytes, bytearray)) else ""
        rows = []
        if 0x692 in ctx.subs:
            cells = {}
            chk.tc(ctx.subs[0x692], "r", set(), cells)
            for rid in sorted(cells.get("rows", {})):
                row = cells["rows"][rid]
                name = bytes(row.get(0x3001001F, b"")).decode("utf-16-le")
                mail = bytes(row.get(0x3003001F, b"")).decode("utf-16-le")
                rows.append((name, mail))
        subject = text(0x0037)
        if subject[:1] == "\x01":
            subject = subject[2:]
        out[nid] = {"recips": rows, "body": text(0x1000), "subject": subject}
    return out

def main():
    store, manifest = sys.argv[1], sys.argv[2]
    expected = collections.OrderedDict()
    for line in open(manifest, encoding="utf-8"):
        line = line.rstrip("\n")
        if line:
            folder, path = line.split("\t")
            expected.setdefault(folder, []).append(path)
    f = pypff.file()
    f.open(store)
    top = None
    root = f.get_root_folder()
    for i in range(root.number_of_sub_folders):
        if root.get_sub_folder(i).name.startswith("Top of"):
            top = root.get_sub_folder(i)
    problems = []
    if top is None:
        print("the store has no top folder"); return 1
    stored = messages_by_nid(store)
    total = 0
    for folder_path, files in expected.items():
        folder = top
        for name in folder_path.split("\\"):
            found = [folder.get_sub_folder(k) for k in range(folder.number_of_sub_folders)
                     if folder.get_sub_folder(k).name.lower() == name.lower()]
            if not found:
                problems.append("folder %r missing" % folder_path); folder = None; break
            folder = found[0]
        if folder is None:
            continue
        if folder.number_of_sub_messages != len(files):
            problems.append("folder %r holds %d messages, expected %d" % (folder_path, folder.number_of_sub_messages, len(files)))
            continue
        for k, path in enumerate(files):
            total += 1
            src = source(path)
            m = folder.get_sub_message(k)
            where = "%s (%s #%d)" % (path, folder_path, k)
            own = stored.get(m.identifier, {"recips": [], "body": "", "subject": ""})
            if src["subject"] is not None and own["subject"] != src["subject"]:
                problems.append("%s: subject %r, expected %r" % (where, own["subject"], src["subject"]))
            if src["subject"] is not None and (m.subject or "") != src["subject"] and "\ufffd" not in src["subject"] \
                    and all(ord(c) < 0x10000 for c in src["subject"]):
                problems.append("%s: libpff reads the subject %r, expected %r" % (where, m.subject, src["subject"]))
            body = own["body"]
            if src["body"] is not None and body != src["body"]:
                problems.append("%s: body of %d characters differs from the source's %d" % (where, len(body), len(src["body"])))
            if m.number_of_attachments != len(src["atts"]):
                problems.append("%s: %d attachments, expected %d" % (where, m.number_of_attachments, len(src["atts"])))
            else:
                for j, data in enumerate(src["atts"]):
                    if data is None:
                        continue
                    a = m.get_attachment(j)
                    got = a.read_buffer(a.get_size()) if a.get_size() else b""
                    if got != data:
                        problems.append("%s: attachment %d has %d bytes that differ from the source's %d" % (where, j, len(got), len(data)))
            # a string its own code page takes whole arrives without a replacement character
            for what in ("subject", "body"):
                if "\ufffd" in own[what] and "\ufffd" not in (src[what] or "") and not src["unclean"]:
                    problems.append("%s: the store's %s holds U+FFFD, the source's none" % (where, what))
            got_r = sorted(own["recips"])
            # a recipient without a display name shows its address
            want_r = sorted((n if n else (e or ""), e or "") for n, e in src["recips"])
            if all(n is not None and e is not None for n, e in src["recips"]) and got_r != want_r:
                problems.append("%s: recipients %r, expected %r" % (where, got_r[:5], want_r[:5]))
    for p in problems:
        print(p)
    print("compared %d messages, %d differences" % (total, len(problems)))
    return 1 if problems else 0

sys.exit(main())
