#!/usr/bin/python3
"""The independent side of the 8-bit string tests: Python's codecs encode the
texts and decode the expectations, and the pstcheck tool's reader reads the
store.

  string8_store.py encode       stdin: "codec<TAB>text" lines; stdout: the
                                bytes as hex, or "-" where the codec cannot
                                hold the text
  string8_store.py check STORE  stdin: "message<TAB>field<TAB>codecs<TAB>hex"
                                lines (message: index in the store's order;
                                field: subject, body, recipient, attachment,
                                embedded; codecs: the right code pages, comma
                                separated, the first that takes the bytes
                                decodes them); prints each difference, exit 1
                                if any
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "engine", "messaging", "tools"))
from shared_checker import load_checker  # noqa: E402


def encode():
    for line in sys.stdin.read().splitlines():
        codec, text = line.split("\t", 1)
        try:
            print(text.encode(codec).hex())
        except UnicodeEncodeError:
            print("-")


def text(props, pid):
    v = props.get(pid)
    return bytes(v[1]).decode("utf-16-le") if v and isinstance(v[1], (bytes, bytearray)) else None


def store_fields(path):
    """[{field: [texts]}] per message, in the order the messages were stored."""
    pm = load_checker()
    chk = pm.Checker(path, pm.Report())
    chk.open(); chk.check_header(); chk.walk_btrees(); chk.check_blocks()
    t = chk.nbt
    out = []
    for i in sorted(range(len(t["nid"])), key=lambda i: t["nid"][i]):
        if t["nid"][i] & 0x1F != 4:
            continue
        ctx = chk.open_node(t["nid"][i], t["data"][i], t["sub"][i], "m")
        props = chk.pc(ctx, "m", set(), load_subnodes=True) or {}
        subject = text(props, 0x0037) or ""
        fields = {"subject": [subject[2:] if subject[:1] == "\x01" else subject], "body": [text(props, 0x1000)],
                  "recipient": [], "attachment": [], "embedded": []}
        if 0x692 in ctx.subs:
            cells = {}
            chk.tc(ctx.subs[0x692], "r", set(), cells)
            for rid in sorted(cells.get("rows", {})):
                fields["recipient"].append(bytes(cells["rows"][rid].get(0x3001001F, b"")).decode("utf-16-le"))
        for nid, sub in sorted(ctx.subs.items()):
            if nid & 0x1F != 0x05:
                continue
            att = chk.pc(sub, "a", set(), load_subnodes=True) or {}
            fields["attachment"].append(text(att, 0x3707))
            for _, inner in sorted(sub.subs.items()):
                emb = chk.pc(inner, "e", set(), load_subnodes=True) or {}
                if text(emb, 0x001A) is None:
                    continue  # not a message
                s = text(emb, 0x0037) or ""
                fields["embedded"].append(s[2:] if s[:1] == "\x01" else s)
        out.append(fields)
    return out


def check(store):
    found = store_fields(store)
    problems = []
    for line in sys.stdin.read().splitlines():
        index, field, codecs, data = line.split("\t")
        raw = bytes.fromhex(data)
        expected = None
        for codec in codecs.split(","):
            try:
                expected = raw.decode(codec)
                break
            except UnicodeDecodeError:
                continue
        got = found[int(index)][field] if int(index) < len(found) else None
        if got != [expected]:
            problems.append(f"message {index} {field} ({codecs}, {data}): the store holds {got!r}, expected {expected!r}")
    for p in problems:
        print(p)
    print(f"{len(found)} messages, {len(problems)} differences")
    return 1 if problems else 0


if __name__ == "__main__":
    if sys.argv[1] == "encode":
        encode()
    else:
        sys.exit(check(sys.argv[2]))
