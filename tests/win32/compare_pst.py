#!/usr/bin/python3
"""Compares the messages of two .pst files through libpff (python3-pypff).

Both stores must hold the same folder tree and, folder by folder, the same
messages: subject, sender, plain and HTML bodies, and every attachment's size
and SHA-256. Store names, time stamps and paths may differ. Prints a summary
line and exits 0 when they match, 1 with the first differences otherwise.
"""
import hashlib
import sys

import pypff


def digest(data):
    return hashlib.sha256(data or b"").hexdigest()[:16]


def attachment_digest(attachment):
    size = attachment.get_size() or 0
    data = attachment.read_buffer(size) if size else b""
    return (size, digest(data))


def message_record(message):
    attachments = []
    for i in range(message.get_number_of_attachments()):
        try:
            attachments.append(attachment_digest(message.get_attachment(i)))
        except OSError as error:  # libpff cannot read some attachment kinds
            attachments.append(("unreadable", str(type(error).__name__)))
    return (
        message.get_subject() or "",
        message.get_sender_name() or "",
        digest(message.get_plain_text_body()),
        digest(message.get_html_body()),
        tuple(sorted(attachments, key=repr)),
    )


def walk(folder, path, out):
    messages = []
    for i in range(folder.get_number_of_sub_messages()):
        messages.append(message_record(folder.get_sub_message(i)))
    out[path] = sorted(messages, key=repr)
    for i in range(folder.get_number_of_sub_folders()):
        sub = folder.get_sub_folder(i)
        walk(sub, path + "/" + (sub.get_name() or ""), out)


def load(name):
    store = pypff.file()
    store.open(name)
    folders = {}
    walk(store.get_root_folder(), "", folders)
    store.close()
    return folders


def main():
    if len(sys.argv) != 3:
        print("usage: compare_pst.py A.pst B.pst", file=sys.stderr)
        return 2
    a, b = load(sys.argv[1]), load(sys.argv[2])
    problems = []
    for path in sorted(set(a) | set(b)):
        if path not in a or path not in b:
            problems.append("folder %r only in %s" % (path, "B" if path not in a else "A"))
            continue
        if a[path] != b[path]:
            only_a = [m[0] for m in a[path] if m not in b[path]]
            only_b = [m[0] for m in b[path] if m not in a[path]]
            problems.append("folder %r differs: A has %d, B has %d messages; only in A: %r; only in B: %r"
                            % (path, len(a[path]), len(b[path]), only_a[:3], only_b[:3]))
    count = sum(len(m) for m in a.values())
    if problems:
        print("\n".join(problems[:20]))
        return 1
    print("same: %d folders, %d messages" % (len(a), count))
    return 0 if count > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
