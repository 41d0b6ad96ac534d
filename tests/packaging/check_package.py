#!/usr/bin/python3
"""Builds the Debian package from a build tree and checks it as a user's
machine would see it.

  check_package.py build    BUILD_DIR WORK_DIR   cpack makes WORK_DIR/parvane_*.deb
  check_package.py contents BUILD_DIR WORK_DIR   files, control fields, Depends
  check_package.py install  BUILD_DIR WORK_DIR SHARED_DIR
                                                 installed into an empty root with
                                                 dpkg --root: both programs run from
                                                 there, a small conversion, the
                                                 manual pages, the desktop entry, removal
  check_package.py lintian  BUILD_DIR WORK_DIR   no lintian errors (the rest is printed)

Exit 0 when every check passes, 77 when the step cannot run here (dpkg --root
as another user than root), 1 with the failures printed otherwise.
"""
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys

SKIP = 77
ICON_SIZES = (16, 24, 32, 48, 256)
DOC = "usr/share/doc/parvane"
EXPECTED_FILES = {
    "usr/bin/parvane",
    "usr/bin/parvane-cli",
    "usr/share/applications/parvane.desktop",
    "usr/share/man/man1/parvane.1.gz",
    "usr/share/man/man1/parvane-cli.1.gz",
    f"{DOC}/copyright",
    f"{DOC}/changelog.gz",
    f"{DOC}/README.md",
} | {f"usr/share/icons/hicolor/{n}x{n}/apps/parvane.png" for n in ICON_SIZES}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def project_version(build):
    with open(os.path.join(build, "CPackConfig.cmake"), encoding="utf-8") as f:
        return re.search(r'set\(CPACK_PACKAGE_VERSION "([^"]+)"\)', f.read()).group(1)


def package_path(work):
    found = glob.glob(os.path.join(work, "parvane_*.deb"))
    if len(found) != 1:
        sys.exit(f"expected one package in {work}, found {found}: run the build step first")
    return found[0]


def control_field(deb, field):
    return run(["dpkg-deb", "-f", deb, field]).stdout.strip()


def depends_packages(deb):
    """The package names of Depends (every alternative)."""
    names = set()
    for clause in control_field(deb, "Depends").split(","):
        for alternative in clause.split("|"):
            if alternative.strip():
                names.add(alternative.split()[0])
    return names


def step_build(build, work):
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    result = run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"),
                  "-B", work], cwd=work)
    if not check(result.returncode == 0, f"cpack failed:\n{result.stdout}{result.stderr}"):
        return
    deb = package_path(work)
    print(f"built {deb} ({os.path.getsize(deb)} bytes)")


def step_contents(build, work):
    deb = package_path(work)
    listing = run(["dpkg-deb", "--contents", deb]).stdout.splitlines()
    files = set()
    for line in listing:
        mode, owner, *_rest = line.split(None, 5)
        path = line.split(None, 5)[5].removeprefix("./")
        check(owner == "root/root", f"{path} belongs to {owner}, not root/root")
        if mode.startswith("d"):
            check(mode == "drwxr-xr-x", f"folder {path} has mode {mode}")
            continue
        files.add(path)
        executable = path.startswith("usr/bin/")
        check(mode == ("-rwxr-xr-x" if executable else "-rw-r--r--"), f"{path} has mode {mode}")
    check(files == EXPECTED_FILES,
          f"package files differ: missing {sorted(EXPECTED_FILES - files)}, "
          f"unexpected {sorted(files - EXPECTED_FILES)}")

    version = project_version(build)
    check(control_field(deb, "Package") == "parvane", "the package is not named parvane")
    check(control_field(deb, "Version") == version, f"the package version is not {version}")
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    check(control_field(deb, "Architecture") == arch, f"the architecture is not {arch}")
    check("fonts-dejavu-core" in control_field(deb, "Recommends"),
          "the window's fallback font is not recommended")

    # Depends is computed: every library the programs need must come from a
    # package it names, whatever the build linked (Qt, zlib, mimalloc, ...).
    unpacked = os.path.join(work, "contents")
    shutil.rmtree(unpacked, ignore_errors=True)
    run(["dpkg-deb", "-x", deb, unpacked], check=True)
    depends = depends_packages(deb)
    print("Depends:", control_field(deb, "Depends"))
    for program in ("parvane", "parvane-cli"):
        binary = os.path.join(unpacked, "usr/bin", program)
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]",
                            run(["readelf", "-d", binary]).stdout)
        check(needed, f"{program}: no shared libraries found (not a dynamic program?)")
        resolved = dict(re.findall(r"^\s*(\S+) => (/\S+)", run(["ldd", binary]).stdout, re.M))
        for soname in needed:
            library = resolved.get(soname)
            if not check(library, f"{program}: {soname} is not found on this machine"):
                continue
            owner = run(["dpkg", "-S", os.path.realpath(library)])
            if owner.returncode != 0:
                owner = run(["dpkg", "-S", library])
            package = owner.stdout.split(":")[0].strip()
            check(package in depends,
                  f"{program} links {soname} ({package or 'no package'}), which Depends does not name")
        symbols = run(["readelf", "--syms", binary]).stdout
        check(".symtab" not in symbols, f"{program} is not stripped")

    # The changelog's newest entry is this version.
    with gzip.open(os.path.join(unpacked, DOC, "changelog.gz"), "rt", encoding="utf-8") as f:
        first = f.readline().rstrip("\n")
    check(first.startswith(f"parvane ({version})"),
          f"the changelog's newest entry is not {version}: {first}")


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", header[16:24])


def desktop_entry(path):
    entry = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                entry[key] = value
    return entry


def help_options(text):
    """The long options that a --help text lists (--help, --output, ...)."""
    return set(re.findall(r"^\s+(?:-\w, )?(--[a-z][a-z-]*)", text, re.M))


def rendered_manpage(path):
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    result = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=env)
    check(result.returncode == 0 and not result.stderr.strip(),
          f"man {os.path.basename(path)}: exit {result.returncode}: {result.stderr}")
    # Plain text: drop the overstrike bold and underline.
    return re.sub(r".\x08", "", result.stdout).replace("\u2010", "-").replace("\u2212", "-")


def step_install(build, work, shared):
    if os.geteuid() != 0:
        print("dpkg --root installs as root only")
        sys.exit(SKIP)
    deb = package_path(work)
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    for folder in ("var/lib/dpkg/info", "var/lib/dpkg/updates", "tmp"):
        os.makedirs(os.path.join(root, folder))
    open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
    dpkg = ["dpkg", f"--root={root}", "--log=/dev/null"]
    # The root is empty: the libraries the programs need are this machine's,
    # so their packages are missing from its database.
    result = run(dpkg + ["--force-depends", "-i", deb])
    if not check(result.returncode == 0, f"dpkg -i failed:\n{result.stdout}{result.stderr}"):
        return
    status = run(dpkg + ["-s", "parvane"]).stdout
    check("Status: install ok installed" in status, f"parvane is not installed:\n{status}")

    bindir = os.path.join(root, "usr/bin")
    cli = os.path.join(bindir, "parvane-cli")
    version = project_version(build)
    result = run([cli, "--version"])
    check(result.returncode == 0 and version in result.stdout,
          f"parvane-cli --version: exit {result.returncode}, {result.stdout!r}")

    # A small conversion with the installed program, read back by libpff.
    mail = os.path.join(root, "tmp/mail/Work")
    os.makedirs(mail)
    corpus = os.path.join(shared, "corpus/msg/TeamMsgExtractor-msg-extractor")
    for name in ("unicode.msg", "strangeDate.msg"):
        shutil.copy(os.path.join(corpus, name), mail)
    store = os.path.join(root, "tmp/out.pst")
    result = run([cli, "-q", "-o", store, os.path.dirname(mail)])
    if check(result.returncode == 0 and result.stdout.strip().endswith(store),
             f"parvane-cli conversion: exit {result.returncode}\n{result.stdout}{result.stderr}"):
        pstcheck = run([os.path.join(shared, "tools/pstcheck"), store])
        check(pstcheck.returncode == 0, f"pstcheck: {pstcheck.stdout[-2000:]}")
        count = run(["/usr/bin/python3", "-c", READ_COUNT, store, mail.lstrip("/")])
        check(count.stdout.strip() == "2", f"libpff reads {count.stdout.strip()!r} messages "
              f"in the store's Work folder, not 2 {count.stderr}")

    # The window starts (offscreen) and stays up until it is ended.
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    result = run(["timeout", "3", os.path.join(bindir, "parvane")], env=env)
    check(result.returncode == 124,
          f"the installed window ended by itself: exit {result.returncode}\n{result.stderr}")

    # Manual pages: render cleanly, and the command's page names every option --help lists.
    man1 = os.path.join(root, "usr/share/man/man1")
    page = rendered_manpage(os.path.join(man1, "parvane-cli.1.gz"))
    listed = help_options(run([cli, "--help"]).stdout)
    check("--output" in listed, f"--help lists no --output: {sorted(listed)}")
    for option in sorted(listed):
        check(option in page, f"the manual page of parvane-cli does not describe {option}")
    check("parvane-cli(1)" in rendered_manpage(os.path.join(man1, "parvane.1.gz")),
          "parvane(1) does not point to parvane-cli(1)")

    # The desktop entry is valid, starts an installed program, and its icon is
    # in the theme in every size, each PNG of the size its folder names.
    desktop = os.path.join(root, "usr/share/applications/parvane.desktop")
    result = run(["desktop-file-validate", desktop])
    check(result.returncode == 0 and not result.stdout.strip(),
          f"desktop-file-validate: {result.stdout}{result.stderr}")
    entry = desktop_entry(desktop)
    check(os.access(os.path.join(bindir, entry.get("Exec", "").split(" ")[0]), os.X_OK),
          f"the desktop entry starts {entry.get('Exec')!r}, which is not installed")
    for n in ICON_SIZES:
        icon = os.path.join(root, f"usr/share/icons/hicolor/{n}x{n}/apps/{entry.get('Icon')}.png")
        check(os.path.isfile(icon) and png_size(icon) == (n, n),
              f"{icon}: {png_size(icon) if os.path.isfile(icon) else 'missing'}, not {n}x{n}")

    # Removing it leaves nothing behind but the conversion's own files.
    shutil.rmtree(os.path.join(root, "tmp"))
    result = run(dpkg + ["--purge", "parvane"])
    check(result.returncode == 0, f"dpkg --purge failed:\n{result.stdout}{result.stderr}")
    left = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(root, "usr")) for f in fs]
    check(not left, f"files left after removal: {left}")


READ_COUNT = """
import sys, pypff
f = pypff.file(); f.open(sys.argv[1])
folder = f.get_root_folder()
names = ["Top of Outlook data file"] + sys.argv[2].split("/")
for name in names:
    folder = next(folder.get_sub_folder(k) for k in range(folder.get_number_of_sub_folders())
                  if folder.get_sub_folder(k).get_name() == name)
print(folder.get_number_of_sub_messages())
"""


def step_lintian(work):
    deb = package_path(work)
    result = run(["lintian", "--fail-on", "error", "--display-level", ">=pedantic",
                  "--tag-display-limit", "0", deb])
    print(result.stdout + result.stderr)
    errors = [line for line in result.stdout.splitlines() if line.startswith("E:")]
    check(result.returncode == 0 and not errors,
          f"lintian: exit {result.returncode}, {len(errors)} errors")


def main():
    step, build, work = sys.argv[1:4]
    if step == "build":
        step_build(build, work)
    elif step == "contents":
        step_contents(build, work)
    elif step == "install":
        step_install(build, work, sys.argv[4])
    elif step == "lintian":
        step_lintian(work)
    else:
        sys.exit(f"unknown step {step}")
    for failure in failures:
        print("FAIL:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
