#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that are missing for one use of the source tree:
#   install-deps.sh run       building the programs and the demo, and running them (scripts/run.sh, fuzz.sh)
#   install-deps.sh package   that and the Debian package's tools (scripts/package.sh)
#   install-deps.sh test      all of that and every test's tools, a Dovecot among them (scripts/test.sh)
#   install-deps.sh --list SET   prints the packages of SET, one a line, and installs nothing
# The run set holds no server of any kind: whoever only wants the demo gets nothing that listens on the network.
set -euo pipefail

run_packages=(
    cmake g++ make pkg-config
    qt6-base-dev libgl-dev libxcb1-dev fonts-noto-cjk
    qt6-translations-l10n  # Qt's own texts (buttons, menus, the file chooser) in Chinese
    netbase libcanberra-dev libssl-dev ca-certificates
    libsecret-1-dev  # passwords and refresh tokens in the desktop keyring (Secret Service)
    xdg-utils  # 打开邮件 (xdg-email), the log files and the maker's page (xdg-open)
)
package_packages=(
    dpkg-dev file  # dpkg-buildflags and dpkg-shlibdeps, and cpack's look at the binaries
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev
    openssl  # the mail tests make their certificates
    dovecot-imapd dovecot-pop3d  # the IMAP and POP3 tests run a real Dovecot of their own
    python3  # the OAuth2 tests' token provider (tools/oauth2provider) and the scripts' tests
    xvfb  # the notifier's tray story runs on a display of its own with an X11 notification area
    lintian appstream desktop-file-utils man-db  # the package test checks the package, its metainfo and pages
    dbus dbus-daemon gnome-keyring  # the keyring tests run a session bus and a GNOME Keyring of their own
    python3-dbusmock  # notifications are tested on a private session bus with a mock notification server
    python3-dbus python3-gi  # and with the tests' own notification server and StatusNotifier panel (tests/support)
    iproute2  # the stories of the server search run in a network namespace of their own (ip netns)
)

usage() {
    echo "usage: $0 run|package|test   or   $0 --list run|package|test" >&2
    exit 2
}

packages_of() {
    case "$1" in
    run) printf '%s\n' "${run_packages[@]}" ;;
    package) printf '%s\n' "${run_packages[@]}" "${package_packages[@]}" ;;
    test) printf '%s\n' "${run_packages[@]}" "${package_packages[@]}" "${test_packages[@]}" ;;
    *) usage ;;
    esac
}

if [ "${1:-}" = "--list" ]; then
    [ $# -eq 2 ] || usage
    packages_of "$2"
    exit 0
fi
[ $# -eq 1 ] || usage
set_name=$1
case "$set_name" in run | package | test) ;; *) usage ;; esac
mapfile -t packages < <(packages_of "$set_name")

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

# Debian's Dovecot enables and starts its system service at install, listening on every interface with PAM logins.
# The tests start a Dovecot of their own on loopback and need none of it: while this script installs it, a
# policy-rc.d keeps the service from starting, and afterwards its units are disabled, so that it does not start at
# the next boot either. A Dovecot that was installed before is the machine owner's and is left as it is.
installs_dovecot=0
for p in "${missing[@]}"; do
    case "$p" in dovecot-*) installs_dovecot=1 ;; esac
done
policy=/usr/sbin/policy-rc.d
made_policy=0
remove_policy() {
    if [ "$made_policy" -eq 1 ]; then
        $sudo rm -f "$policy"
    fi
}
trap remove_policy EXIT

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$installs_dovecot" -eq 1 ] && [ ! -e "$policy" ]; then
        # 101: "action forbidden by policy" (invoke-rc.d), so no service of this install is started.
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod 755 "$policy"
        made_policy=1
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
    remove_policy
    made_policy=0
fi

if [ "$installs_dovecot" -eq 1 ]; then
    if [ -d /run/systemd/system ]; then
        # Stopped as well, in case it was started all the same (a policy-rc.d of someone else's that allows it).
        $sudo systemctl disable --now dovecot.socket dovecot.service >/dev/null 2>&1 || true
    else
        # No systemd running (a container, a chroot, CI): the unit links and the init script's links are files.
        if command -v systemctl >/dev/null 2>&1; then
            $sudo systemctl disable dovecot.socket dovecot.service >/dev/null 2>&1 || true
        fi
        if command -v update-rc.d >/dev/null 2>&1; then
            $sudo update-rc.d dovecot disable >/dev/null 2>&1 || true
        fi
    fi
    echo "Dovecot's system service is disabled: the tests start a Dovecot of their own on 127.0.0.1."
elif [ "$set_name" = "test" ] && [ -d /run/systemd/system ] &&
    systemctl is-active --quiet dovecot.service 2>/dev/null; then
    echo "Note: dovecot.service runs on this machine. The tests do not need it; if nobody else does," \
        "'sudo systemctl disable --now dovecot' switches it off."
fi
