#!/usr/bin/python3
"""Reads every message of a .pst with libpff (pypff): prints one line per
folder, "PATH COUNT" (the messages whose subject and properties could be
read), then "total N". Exit status 1 if a message cannot be read."""
import sys

import pypff


def walk(folder, path, out):
    n = 0
    for i in range(folder.number_of_sub_messages):
        m = folder.get_sub_message(i)
        if m.subject is None:
            raise RuntimeError("%s: message %d has no subject" % (path, i))
        m.number_of_attachments  # reads the message's subnodes
        n += 1
    out.append((path, n))
    for i in range(folder.number_of_sub_folders):
        sub = folder.get_sub_folder(i)
        walk(sub, path + "/" + (sub.name or ""), out)


def main():
    f = pypff.file()
    f.open(sys.argv[1])
    out = []
    walk(f.get_root_folder(), "", out)
    for path, n in out:
        print(path, n)
    print("total", sum(n for _, n in out))


if __name__ == "__main__":
    main()
