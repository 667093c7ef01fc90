#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The error-log table is kept twice: in docs/troubleshooting.md and as the DIAGNOSTICS section of kd5lite(1). The
# section must say, word for word, what the table says, so that a row changed in one is changed in the other; and
# the page must render without a warning, as lintian checks it.
# Usage: man_diagnostics_test.py SOURCE_DIR
import os
import re
import subprocess
import sys

source_dir = sys.argv[1]


def words(text):
    # What man makes of the punctuation, and line breaks, do not count.
    for made, typed in (("\u2010", "-"), ("\u2212", "-"), ("\u2019", "'"), ("\u2018", "'")):
        text = text.replace(made, typed)
    return " ".join(text.split())


def table_text(markdown):
    """The error-log section of the troubleshooting page as the manual page words it."""
    section = markdown[markdown.index("## What the error log says"):].split("\n", 1)[1]
    pieces = []
    for block in section.strip().split("\n\n"):
        for line in block.split("\n") if block.startswith("|") else [block]:
            row = re.match(r"^\| (.*?) \| (.*) \|$", line)
            if line.startswith("|") and (not row or row.group(1) == "Line"):
                continue
            pieces += [row.group(1), row.group(2)] if row else [line]
    text = " ".join(pieces)
    text = re.sub(r"\[([^\]]+)\]\(([\w.-]+\.md)#[^)]+\)", r"\1 in \2", text)  # a link: its text and its file
    return words(text.replace("`", ""))


def rendered_diagnostics(page):
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="20000")
    run = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=env, capture_output=True, text=True)
    if run.returncode != 0 or run.stderr.strip():
        sys.exit(f"FAIL: man -l {page}: {run.returncode} {run.stderr}")
    text = run.stdout
    return words(text[text.index("\nDIAGNOSTICS\n"):text.index("\nSEE ALSO\n")])


want = table_text(open(os.path.join(source_dir, "docs/troubleshooting.md"), encoding="utf-8").read())
have = rendered_diagnostics(os.path.join(source_dir, "packaging/man/kd5lite.1"))
if want not in have:
    start = max(have.find(want[:30]), 0)  # the table's first words in the page, past the section's own opening
    at = next((i for i, (a, b) in enumerate(zip(want, have[start:])) if a != b), min(len(want), len(have) - start))
    sys.exit(f"FAIL: DIAGNOSTICS of kd5lite(1) differs from docs/troubleshooting.md here:\n"
             f"  table: ...{want[max(at - 60, 0):at + 80]}\n  page:  ...{have[start + max(at - 60, 0):start + at + 80]}")
print("DIAGNOSTICS of kd5lite(1) says what docs/troubleshooting.md says")
