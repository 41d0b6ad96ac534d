#!/usr/bin/python3
"""Independent reader for the message-file tests, built on python3-olefile.

Prints, for every file named on the command line, a canonical summary that
the C++ test prints from the engine's reader too:

    == <path>
    subject: ...            sender: name|email
    body: <len>:<crc32>     html: <len>:<crc32>   (crc of the decoded UTF-8 text / raw bytes)
    recipient: type|name|email
    attachment: filename|size|crc32     or  attachment: filename|embedded|subject
    named: <local id>|{GUID}|id:0x....  or  named: <local id>|{GUID}|name:...
    prop: <tag of every top-level property with id >= 0x8000>|<resolved name>

Unreadable files print "error". Only Python's own codecs decode 8-bit text.
"""
import struct
import sys
import uuid
import zlib

import olefile

sys.path.insert(0, __import__("os").path.join(__import__("os").path.dirname(__file__), "..", "..", "support"))
import string8  # noqa: E402

PS_MAPI = "{00020328-0000-0000-C000-000000000046}"
PS_PUBLIC_STRINGS = "{00020329-0000-0000-C000-000000000046}"

def guid_str(b):
    return "{" + str(uuid.UUID(bytes_le=bytes(b))).upper() + "}"


class Storage:
    def __init__(self, ole, path, header, pages):
        self.ole, self.path = ole, path
        self.props = {}
        data = ole.openstream(path + ["__properties_version1.0"]).read()
        for off in range(header, len(data) - 15, 16):
            tag, _flags = struct.unpack_from("<II", data, off)
            self.props[tag] = data[off + 8:off + 16]
        # the code pages its own properties name, else those of its message
        self.pages = list(pages)
        for k, tag in enumerate((0x3FFD0003, 0x3FF10003, 0x3FDE0003)):
            if tag in self.props and struct.unpack_from("<I", self.props[tag])[0]:
                self.pages[k] = struct.unpack_from("<I", self.props[tag])[0]

    def stream(self, tag):
        p = self.path + ["__substg1.0_%08X" % tag]
        if self.ole.exists(p) and self.ole.get_type(p) == olefile.STGTY_STREAM:
            return self.ole.openstream(p).read()
        return None

    def text(self, pid):
        if (pid << 16 | 0x1F) in self.props:
            raw = self.stream(pid << 16 | 0x1F)
            if raw is not None:
                return raw.decode("utf-16-le", "replace").rstrip("\0")
        if (pid << 16 | 0x1E) in self.props:
            raw = self.stream(pid << 16 | 0x1E)
            if raw is not None:
                return string8.decode(raw.rstrip(b"\0"), *self.pages, pid in (0x1000, 0x1013))[0]
        return None

    def int32(self, pid):
        raw = self.props.get(pid << 16 | 0x03)
        return None if raw is None else struct.unpack_from("<i", raw)[0]

    def children(self, prefix):
        names = set()
        for entry in self.ole.listdir(streams=True, storages=True):
            if len(entry) > len(self.path) and entry[:len(self.path)] == self.path:
                name = entry[len(self.path)]
                if name.lower().startswith(prefix.lower()):
                    names.add(name)
        return sorted(names, key=lambda n: int(n[-8:], 16))


def crc(b):
    return "%d:%08x" % (len(b), zlib.crc32(b) & 0xFFFFFFFF)


def summary(ole):
    out = []
    names = {}
    if ole.exists("__nameid_version1.0"):
        def s(n):
            p = ["__nameid_version1.0", n]
            return ole.openstream(p).read() if ole.exists(p) else b""
        guids, entries, strings = s("__substg1.0_00020102"), s("__substg1.0_00030102"), s("__substg1.0_00040102")
        for off in range(0, len(entries) - 7, 8):
            value, kind_index, prop_index = struct.unpack_from("<IHH", entries, off)
            gi = kind_index >> 1
            g = PS_MAPI if gi == 1 else PS_PUBLIC_STRINGS if gi == 2 else guid_str(guids[(gi - 3) * 16:(gi - 2) * 16])
            if kind_index & 1:
                n = struct.unpack_from("<I", strings, value)[0]
                name = "name:" + strings[value + 4:value + 4 + n].decode("utf-16-le", "replace")
            else:
                name = "id:0x%04X" % value
            lid = 0x8000 + prop_index
            if lid not in names:
                names[lid] = g + "|" + name
                out.append("named: %04X|%s" % (lid, names[lid]))
    out.extend(message(ole, [], 32, (None, None, None), names, top=True))
    return out


def message(ole, path, header, pages, names, top=False):
    out = []
    m = Storage(ole, path, header, pages)
    out.append("subject: %s" % m.text(0x0037))
    out.append("sender: %s|%s" % (m.text(0x0C1A), m.text(0x0C1F)))
    body = m.text(0x1000)
    out.append("body: %s" % (crc(body.encode("utf-8")) if body is not None else None))
    html = m.stream(0x10130102)
    if html is None:
        t = m.text(0x1013)
        html = t.encode("utf-8") if t is not None else None
    out.append("html: %s" % (crc(html) if html is not None else None))
    if top:
        for tag in m.props:
            if tag >> 16 >= 0x8000 and tag & 0xFFFF != 0x000D:
                if tag >> 16 in names:
                    out.append("prop: %08X|%s" % (tag, names[tag >> 16]))
    for r in m.children("__recip_version1.0_#"):
        rs = Storage(ole, path + [r], 8, m.pages)
        out.append("recipient: %s|%s|%s" % (rs.int32(0x0C15), rs.text(0x3001), rs.text(0x3003)))
    for a in m.children("__attach_version1.0_#"):
        at = Storage(ole, path + [a], 8, m.pages)
        name = at.text(0x3707) or at.text(0x3704) or at.text(0x3001)
        sub = path + [a, "__substg1.0_3701000D"]
        if ole.exists(sub) and ole.get_type(sub) == olefile.STGTY_STORAGE:
            if ole.exists(sub + ["__properties_version1.0"]) and at.int32(0x3705) != 6:
                inner = message(ole, sub, 24, at.pages, names)
                out.append("attachment: %s|embedded|%s" % (name, inner[0][len("subject: "):]))
                out.extend("  " + line for line in inner)
            else:
                out.append("attachment: %s|ole" % name)
        else:
            data = at.stream(0x37010102)
            out.append("attachment: %s|%s" % (name, crc(data) if data is not None else None))
    return out


def main():
    for path in sys.argv[1:]:
        print("== " + path)
        try:
            with olefile.OleFileIO(path) as ole:
                lines = summary(ole)
        except Exception as e:  # noqa: BLE001 - any failure means "unreadable"
            lines = ["error: %s" % type(e).__name__]
        for line in lines:
            print(line)


if __name__ == "__main__":
    main()
