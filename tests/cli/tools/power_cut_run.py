"""A run of parvane-cli into an ext4 file system on a loop device, shut down
without flushing its journal (EXT4_IOC_SHUTDOWN, EXT4_GOING_FLAGS_NOLOGFLUSH:
what a power cut leaves) at 3/14, 6/14 and 12/14 of the time a whole run
takes. After each, the file system is mounted again and every store the run
left must be whole: cut to its header's ibFileEof when longer (never
shorter), it passes the shared checker (maps marked invalid allowed) and
python3-pypff reads every message of it. Blocks left unreferenced
("leaked") are counted, not failed.

Needs root and loop devices; exits 77 (skipped) without them.
usage: power_cut_run.py CLI SHARED WORK"""
import fcntl, os, shutil, struct, subprocess, sys, time

import pypff

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "engine", "messaging", "tools"))
from shared_checker import load_checker  # noqa: E402

EXT4_IOC_SHUTDOWN = 0x8004587D  # _IOR('X', 125, __u32)
EXT4_GOING_FLAGS_NOLOGFLUSH = 2
COPIES = 24  # of the corpus's message files (17 MB): a run of a few seconds


def skip(why):
    print("skipped: " + why)
    sys.exit(77)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class LoopFileSystem:
    def __init__(self, work):
        self.image = os.path.join(work, "ext4.img")
        self.mount = os.path.join(work, "mnt")
        os.makedirs(self.mount, exist_ok=True)

    def make(self):
        with open(self.image, "wb") as f:
            f.truncate(2 << 30)
        run("mkfs.ext4", "-q", "-F", self.image)

    def up(self):
        run("mount", "-t", "ext4", "-o", "loop", self.image, self.mount)

    def down(self):
        subprocess.run(["umount", self.mount], check=False, stderr=subprocess.DEVNULL)

    def shut(self):
        fd = os.open(self.mount, os.O_RDONLY)
        try:
            fcntl.ioctl(fd, EXT4_IOC_SHUTDOWN, struct.pack("I", EXT4_GOING_FLAGS_NOLOGFLUSH))
        finally:
            os.close(fd)


def check_store(checker, path):
    """Findings against the store at `path`, [] when it is whole."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(0x200)
    if len(head) < 0x200:
        return ["%s: %d bytes, no whole header" % (path, size)]
    eof = struct.unpack_from("<Q", head, 0xB8)[0]
    if size < eof:
        return ["%s: the header names %d bytes, the file has %d" % (path, eof, size)]
    if size > eof:
        os.truncate(path, eof)
    report = checker.Report()
    try:
        checker.Checker(path, report).run()
    except Exception as e:
        return ["%s: checker: %s" % (path, e)]
    # blocks a stop leaves unreferenced (the parked tables of folders) are
    # told, not failed: readers ignore them
    leaked = sum(1 for lv, area, _, _ in report.items if lv == "WARN" and area == "leaked")
    found = ["%s: %s %s: %s" % (path, lv, area, what) for lv, area, what, _ in report.items
             if lv == "ERROR" or ("INVALID_AMAP" not in what and area != "leaked")]
    try:
        f = pypff.file()
        f.open(path)
        count = [0]

        def walk(folder):
            for i in range(folder.number_of_sub_messages):
                folder.get_sub_message(i).subject
                count[0] += 1
            for i in range(folder.number_of_sub_folders):
                walk(folder.get_sub_folder(i))
        walk(f.get_root_folder())
        f.close()
        print("  %s: %d bytes, %d messages, %d leaked blocks" % (os.path.basename(path), eof, count[0], leaked))
    except Exception as e:
        found.append("%s: pypff: %s" % (path, e))
    return found


def main():
    cli, shared, work = sys.argv[1:4]
    if os.geteuid() != 0:
        skip("not root: no loop device to mount")
    if not os.path.exists("/dev/loop-control") or not shutil.which("mkfs.ext4"):
        skip("no loop devices or no mkfs.ext4")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    sources = os.path.join(work, "sources")
    msgs = []
    for top, _, names in os.walk(os.path.join(shared, "corpus", "msg")):
        msgs += [os.path.join(top, n) for n in sorted(names) if n.lower().endswith(".msg")]
    for k in range(COPIES):
        folder = os.path.join(sources, "copy%02d" % k)
        os.makedirs(folder)
        for i, m in enumerate(sorted(msgs)):
            os.symlink(m, os.path.join(folder, "%03d.msg" % i))
    fs = LoopFileSystem(work)
    try:
        fs.make()
        fs.up()
    except (subprocess.CalledProcessError, OSError) as e:
        skip("cannot mount a loop device: %s" % (getattr(e, "stderr", b"") or str(e)))
    checker = load_checker()
    problems = []
    try:
        # the whole run, timed
        out = os.path.join(fs.mount, "whole")
        os.makedirs(out)
        started = time.monotonic()
        # exit 1: the corpus holds two broken files, which are refused
        done = subprocess.run([cli, "--quiet", "-o", out, sources], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        whole = time.monotonic() - started
        if done.returncode not in (0, 1):
            problems.append("the whole run exited with %d" % done.returncode)
        print("whole run: %.2f s" % whole)
        shutil.rmtree(out)
        # as 3, 6 and 12 s into a run of 14 s
        for part in (3, 6, 12):
            at = whole * part / 14
            out = os.path.join(fs.mount, "cut%d" % part)
            os.makedirs(out)
            os.sync()
            child = subprocess.Popen([cli, "--quiet", "-o", out, sources],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(at)
            fs.shut()
            child.wait(timeout=120)
            fs.down()
            fs.up()
            stores = sorted(n for n in os.listdir(out) if n.endswith(".pst"))
            print("shut down at %.2f s: %s" % (at, ", ".join(stores) or "no store"))
            if not stores:
                problems.append("shut down at %.2f s: no store under its name" % at)
            for name in stores:
                problems += check_store(checker, os.path.join(out, name))
    finally:
        fs.down()
    for p in problems:
        print("FAIL " + p)
    if not problems:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
