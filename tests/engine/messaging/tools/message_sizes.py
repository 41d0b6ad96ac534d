#!/usr/bin/python3
"""Prints, for every message of a store (embedded ones included), its NID,
PidTagMessageSize, the data bytes of its node and subnodes, and the sum of
its property sizes, read with the pstcheck tool's reader.
Usage: message_sizes.py STORE"""
import sys
from shared_checker import load_checker

pm = load_checker()

chk = pm.Checker(sys.argv[1], pm.Report())
chk.open(); chk.check_header(); chk.walk_btrees(); chk.check_blocks()

def visit(ctx, depth):
    props = chk.pc(ctx, "m", set()) or {}
    size = props.get(0x0E08, (0, None))[1]
    print("%s0x%X %s %s %s" % ("  " * depth, ctx.nid, size, pm.node_total(ctx), pm.prop_size_sum(props)))
    for snid, sub in sorted(ctx.subs.items()):
        if snid & 0x1F != 5:
            continue
        for enid, emb in sorted(sub.subs.items()):
            if enid & 0x1F == 4:
                visit(emb, depth + 1)

t = chk.nbt
for i in range(len(t["nid"])):
    if t["nid"][i] & 0x1F == 4:
        visit(chk.open_node(t["nid"][i], t["data"][i], t["sub"][i], "x"), 0)
