#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# What scripts/install-deps.sh installs for each use of the source tree. Catches a mail server (or any server) in
# the set that scripts/run.sh installs for the demo, a test tool that only the tests need moved into it, a package
# the programs need at run time left out of it, and a script that asks for the wrong set.
# Usage: dependency_lists_test.py SOURCE_DIR
import os
import re
import subprocess
import sys

source_dir = sys.argv[1]
failures = []


def listed(set_name):
    run = subprocess.run(["bash", os.path.join(source_dir, "scripts/install-deps.sh"), "--list", set_name],
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"FAIL: install-deps.sh --list {set_name}: {run.returncode} {run.stderr}")
    return set(run.stdout.split())


sets = {name: listed(name) for name in ("run", "package", "test")}

# package, then whether each set holds it: run, package, test.
rows = [
    ("cmake", True, True, True),
    ("qt6-base-dev", True, True, True),
    ("qt6-translations-l10n", True, True, True),  # Qt's buttons and menus in Chinese
    ("fonts-noto-cjk", True, True, True),
    ("libsecret-1-dev", True, True, True),
    ("libcanberra-dev", True, True, True),
    ("libssl-dev", True, True, True),
    ("ca-certificates", True, True, True),
    ("netbase", True, True, True),
    ("xdg-utils", True, True, True),  # 打开邮件 and the log files
    ("dpkg-dev", False, True, True),
    ("file", False, True, True),
    ("dovecot-imapd", False, False, True),
    ("dovecot-pop3d", False, False, True),
    ("libgtest-dev", False, False, True),
    ("libbenchmark-dev", False, False, True),
    ("xvfb", False, False, True),
    ("lintian", False, False, True),
    ("gnome-keyring", False, False, True),
    ("dbus-daemon", False, False, True),
    ("python3-dbusmock", False, False, True),
    ("python3-gi", False, False, True),  # the tests' own notification server and panel
]
for package, *wanted in rows:
    for set_name, want in zip(("run", "package", "test"), wanted):
        if (package in sets[set_name]) != want:
            failures.append(f"{package} {'missing from' if want else 'in'} the {set_name} set")

# Whoever only wants the demo gets nothing that listens on the network.
server = re.compile(r"dovecot|postfix|exim|sendmail|courier|cyrus|openssh-server|apache2|nginx|lighttpd|slapd|samba|"
                    r"vsftpd|-server$|-imapd$|-pop3d$|-smtpd$")
for set_name in ("run", "package"):
    for package in sorted(sets[set_name]):
        if server.search(package):
            failures.append(f"a server in the {set_name} set: {package}")

if not sets["run"] <= sets["package"] <= sets["test"]:
    failures.append("each set must hold the one before it")

# Each script asks for its own set.
for script, set_name in (("run.sh", "run"), ("package.sh", "package"), ("test.sh", "test"), ("fuzz.sh", "run")):
    text = open(os.path.join(source_dir, "scripts", script), encoding="utf-8").read()
    calls = re.findall(r"^\s*scripts/install-deps\.sh\b(.*)$", text, re.MULTILINE)
    if [c.split()[:1] for c in calls] != [[set_name]]:
        failures.append(f"{script} calls install-deps.sh with {calls}, not once with {set_name}")

# The demo brings its own POP3 server (tools/pop3server): nothing of the demo or the programs it starts beside the
# notifier may need a Dovecot.
for folder in ("demo", "tools/lampsim", "tools/pop3server", "tools/serverbase"):
    for root, _, files in os.walk(os.path.join(source_dir, folder)):
        for name in files:
            path = os.path.join(root, name)
            if "dovecot" in open(path, encoding="utf-8", errors="replace").read().lower():
                failures.append(f"{os.path.relpath(path, source_dir)} names Dovecot")

# A wrong set name is refused, not taken for the whole list.
refused = subprocess.run(["bash", os.path.join(source_dir, "scripts/install-deps.sh"), "--list", "demo"],
                         capture_output=True, text=True)
if refused.returncode != 2:
    failures.append(f"--list demo exits {refused.returncode}, not 2")

if failures:
    sys.exit("FAIL:\n  " + "\n  ".join(failures))
print(f"dependency lists: {len(sets['run'])} to run, {len(sets['package'])} to package, {len(sets['test'])} to test")
