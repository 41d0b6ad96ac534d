"""Checks many store files in one process (a process per file would cost more
than the checking): for each path given, one line "<path>\t<verdict>\t<ids>",
where the verdict is "ok" when the shared checker finds no error and no
warning but maps marked invalid, else its first finding, and the ids are the
message NIDs python3-pypff reads, sorted."""
import contextlib, io, sys

import pypff

from shared_checker import load_checker


def message_ids(path):
    def walk(folder, out):
        for i in range(folder.number_of_sub_messages):
            out.append(folder.get_sub_message(i).identifier)
        for i in range(folder.number_of_sub_folders):
            walk(folder.get_sub_folder(i), out)
    f = pypff.file()
    f.open(path)
    ids = []
    walk(f.get_root_folder(), ids)
    f.close()
    return sorted(ids)


def verdict(checker, path):
    report = checker.Report()
    try:
        with contextlib.redirect_stdout(io.StringIO()):
            checker.Checker(path, report).run()
    except Exception as e:  # the checker's Fatal and anything unexpected alike
        return "fatal: %s" % e
    for level, area, what, where in report.items:
        if level == "ERROR" or "INVALID_AMAP" not in what:
            return "%s %s: %s" % (level, area, what)
    return "ok"


def main():
    checker = load_checker()
    for path in sys.argv[1:]:
        v = verdict(checker, path)
        try:
            ids = " ".join(str(i) for i in message_ids(path))
        except Exception as e:
            v, ids = v if v != "ok" else "unreadable: %s" % str(e).replace("\n", " "), ""
        print("%s\t%s\t%s" % (path, v.replace("\t", " ").replace("\n", " "), ids), flush=True)


if __name__ == "__main__":
    main()
