#!/usr/bin/python3
"""Dumps every node of a Unicode .pst: NBT entry, property contexts (tag, type,
value), table contexts (column descriptors and rows), raw internal nodes.
Reuses the readers of the pstcheck tool. Usage: dissect_pst.py FILE [--json]"""
import json, struct, sys
from shared_checker import load_checker

pc_mod = load_checker()

def val_repr(ptype, v):
    if isinstance(v, tuple):
        return {"sub": hex(v[1]) if v[0] == "sub" else hex(v[0]), "size": v[-1]}
    if isinstance(v, int):
        return v
    b = bytes(v)
    if ptype == 0x1F:
        return {"str": b.decode("utf-16-le", "replace"), "hex": b.hex()}
    return {"hex": b.hex()}

def tcinfo(chk, ctx):
    heap = chk.heap(ctx, "t")
    info = heap.get(heap.user_root)
    ccols = info[1]
    rgib = struct.unpack_from("<4H", info, 2)
    cols = [struct.unpack_from("<IHBB", info, 22 + 8 * k) for k in range(ccols)]
    return rgib, cols, struct.unpack_from("<III", info, 10)

def dump_node(chk, ctx, out, depth=0):
    ind = "  " * depth
    ty = ctx.nid & 0x1F
    blocks = chk.load_blocks(ctx) if ctx.data is not None else None
    sig = None
    if blocks and len(blocks[0]) >= 4 and blocks[0][2] == 0xEC:
        sig = blocks[0][3]
    out.append("%snode %s size=%s blocks=%s sig=%s subs=%s" % (ind, hex(ctx.nid), ctx.size,
               len(ctx.data or []), hex(sig) if sig else None, [hex(s) for s in ctx.subs]))
    if sig == 0xBC:
        props = chk.pc(ctx, "pc", set(), load_subnodes=True)
        for pid in sorted(props):
            ptype, v = props[pid]
            out.append("%s  prop 0x%04X%04X = %s" % (ind, pid, ptype, json.dumps(val_repr(ptype, v))))
    elif sig == 0x7C:
        rgib, cols, hids = tcinfo(chk, ctx)
        out.append("%s  TC rgib=%s hidRowIndex=%s hnidRows=%s hidIndex=%s" % (ind, rgib, hex(hids[0]), hex(hids[1]), hex(hids[2])))
        for c in cols:
            out.append("%s  col tag=0x%08X ib=%d cb=%d ibit=%d" % (ind, *c))
        cells = {}
        rows = chk.tc(ctx, "tc", set(), cells)
        for rid in rows or []:
            row = cells["rows"].get(rid, {})
            out.append("%s  row %s: %s" % (ind, hex(rid), json.dumps({"0x%08X" % t: val_repr(t & 0xFFFF, v) for t, v in sorted(row.items())})))
    elif blocks is not None:
        raw = b"".join(blocks)
        out.append("%s  raw %s" % (ind, raw.hex()))
    for s, sc in sorted(ctx.subs.items()):
        dump_node(chk, sc, out, depth + 1)

def main():
    path = sys.argv[1]
    rep = pc_mod.Report()
    chk = pc_mod.Checker(path, rep)
    chk.open()
    chk.check_header()
    chk.walk_btrees()
    chk.check_blocks()
    out = []
    t = chk.nbt
    for i in range(len(t["nid"])):
        nid, bd, bs, par = t["nid"][i], t["data"][i], t["sub"][i], t["parent"][i]
        out.append("NBT nid=%s bidData=%s bidSub=%s parent=%s" % (hex(nid), hex(bd), hex(bs), hex(par)))
        ctx = chk.open_node(nid, bd, bs, "nid=%s" % hex(nid))
        dump_node(chk, ctx, out, 1)
    b = chk.bbt
    for i in range(len(b["bid"])):
        out.append("BBT bid=%s ib=%s cb=%d cref=%d" % (hex(b["bid"][i]), hex(b["ib"][i]), b["cb"][i], b["cref"][i]))
    print("\n".join(out))

main()
