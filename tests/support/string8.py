"""How the independent readers of the tests decode a message file's 8-bit
(String8) values, with Python's own codecs only: the first code page that
takes every byte, in the order the file's properties give (its message code
page 0x3FFD, the ANSI code page of its locale 0x3FF1, the Windows ANSI code
page of its internet charset 0x3FDE, then 1252; for a body the internet code
page first); else 1252 with its five undefined bytes kept as C1 controls."""

CODECS = {65001: "utf-8", 20127: "ascii", 28591: "latin-1", 20866: "koi8_r", 21866: "koi8_u",
          50220: "iso2022_jp", 50221: "iso2022_jp", 50222: "iso2022_jp", 51932: "euc_jp",
          936: "gbk", 950: "big5", 949: "cp949", 28605: "iso8859_15", 54936: "gb18030", 1200: "utf-16-le"}
# primary language of a Windows locale id -> its ANSI code page
LOCALE_ANSI = {0x11: 932, 0x12: 949, 0x1E: 874, 0x2A: 1258, 0x08: 1253, 0x0D: 1255, 0x1F: 1254,
               **{k: 1256 for k in (0x01, 0x20, 0x29)}, **{k: 1257 for k in (0x25, 0x26, 0x27)},
               **{k: 1250 for k in (0x05, 0x0E, 0x15, 0x18, 0x1B, 0x1C, 0x24)},
               **{k: 1251 for k in (0x02, 0x19, 0x22, 0x23, 0x2F)},
               **{k: 1252 for k in (0x03, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0F, 0x10, 0x13, 0x14, 0x16, 0x1D)}}
# internet charset code page -> the Windows ANSI code page it belongs to
CHARSET_ANSI = {20866: 1251, 21866: 1251, 28595: 1251, 50220: 932, 50221: 932, 50222: 932, 51932: 932,
                936: 936, 54936: 936, 950: 950, 949: 949, 51949: 949, 28592: 1250, 28591: 1252, 28605: 1252,
                28597: 1253, 28599: 1254, 28598: 1255, 28596: 1256, 28594: 1257, 28603: 1257,
                **{cp: cp for cp in (874, 932, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258)}}
C1_KEPT = (0x81, 0x8D, 0x8F, 0x90, 0x9D)


def codec(cp):
    if cp in CODECS:
        return CODECS[cp]
    if 28591 <= cp <= 28606:
        return "iso8859_%d" % (cp - 28590)
    return "cp%d" % cp


def locale_ansi(lcid):
    if not lcid:
        return None
    if lcid & 0x3FF == 0x04:
        return 936 if (lcid >> 10) in (0, 2, 4) else 950
    return LOCALE_ANSI.get(lcid & 0x3FF)


def order(own, lcid, internet, body):
    out = []
    for cp in ([internet] if body else []) + [own, locale_ansi(lcid), CHARSET_ANSI.get(internet), 1252]:
        if cp and cp not in out:
            out.append(cp)
    return out


def decode(raw, own, lcid, internet, body):
    """(text, whole): whole is False when no code page took every byte."""
    for cp in order(own, lcid, internet, body):
        try:
            return raw.decode(codec(cp)), True
        except (LookupError, UnicodeDecodeError):
            pass
    return "".join(chr(b) if b in C1_KEPT else bytes([b]).decode("cp1252") for b in raw), False
