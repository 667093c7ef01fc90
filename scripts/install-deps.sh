#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that building, running and testing need, when any is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev libgl-dev fonts-noto-cjk
    netbase libcanberra-dev libssl-dev ca-certificates openssl
    dovecot-imapd dovecot-pop3d  # the IMAP and POP3 tests run a real Dovecot of their own
    qt6-networkauth-dev  # OAuth2 sign-in in the browser and token refresh
    python3  # the OAuth2 tests' token provider (tools/oauth2provider)
    xvfb libxcb1-dev  # the notifier's tray story runs on a display of its own with an X11 notification area
    dpkg-dev file  # the package test: dpkg-buildflags, dpkg-shlibdeps and cpack's look at the binaries
    lintian appstream desktop-file-utils  # the package test checks the package, its metainfo and its launchers
    libsecret-1-dev  # passwords and refresh tokens in the desktop keyring (Secret Service)
    dbus dbus-daemon gnome-keyring  # the keyring tests run a session bus and a GNOME Keyring of their own
    python3-dbusmock  # notifications are tested on a private session bus with a mock notification server
    iproute2  # the stories of the server search run in a network namespace of their own (ip netns)
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
