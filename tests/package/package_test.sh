#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, end to end: scripts/package.sh builds it; its contents are the list below; dpkg installs it
# into a scratch root, running its maintainer scripts outside a chroot as the real system would run them; the
# installed kd5lite --check talks to the installed lamp simulator and a POP3 server; removing and purging leave
# nothing behind, and a user's settings directory is never touched.
# Usage: package_test.sh SOURCE_DIR POP3SERVER_BINARY
set -euo pipefail
source_dir=$1
pop3server=$2

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$("$source_dir/scripts/package.sh" | tail -n 1)
deb="$source_dir/$deb"
[ -f "$deb" ] || fail "no package at $deb"
version=$(sed -n 's/^project(kd5lite VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ "$(basename "$deb")" = "kd5lite_${version}_$(dpkg --print-architecture).deb" ] || fail "named $(basename "$deb")"

# Contents: every file, nothing more.
expected="./etc/xdg/autostart/kd5lite.desktop
./usr/bin/kd5lite
./usr/bin/kd5lite-lampsim
./usr/bin/kd5lite_ap
./usr/bin/kd5lite_op
./usr/lib/udev/rules.d/70-kd5lite-lamp.rules
./usr/share/applications/kd5lite.desktop
./usr/share/applications/kd5lite_ap.desktop
./usr/share/applications/kd5lite_op.desktop
./usr/share/doc/kd5lite/README.md
./usr/share/doc/kd5lite/changelog.gz
./usr/share/doc/kd5lite/copyright
./usr/share/doc/kd5lite/docs/design.md
./usr/share/doc/kd5lite/docs/first-hour.md
./usr/share/doc/kd5lite/docs/troubleshooting.md
./usr/share/doc/kd5lite/docs/user-guide.md
./usr/share/icons/hicolor/64x64/apps/kd5lite.png
./usr/share/icons/hicolor/scalable/apps/kd5lite.svg
./usr/share/man/man1/kd5lite-lampsim.1.gz
./usr/share/man/man1/kd5lite.1.gz
./usr/share/man/man1/kd5lite_ap.1.gz
./usr/share/man/man1/kd5lite_op.1.gz
./usr/share/metainfo/example.kestrel.kd5lite.metainfo.xml"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
[ "$files" = "$expected" ] || fail "contents differ:"$'\n'"$(diff <(echo "$expected") <(echo "$files") || true)"
for page in kd5lite kd5lite_ap kd5lite_op kd5lite-lampsim; do
    dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/man/man1/$page.1.gz" | gzip -t ||
        fail "$page.1.gz is not gzip"
done
# What the programs use at run time: linked, started (xdg-email, xdg-open), or looked for (a Secret Service, Qt's
# translations, the tray host on GNOME).
fields() {
    local field=$1
    shift
    local value
    value=$(dpkg-deb -f "$deb" "$field")
    for needed in "$@"; do
        [[ ", $value," == *", $needed"[\ ,\|]* ]] || fail "$field lacks $needed: $value"
    done
}
fields Depends fonts-noto-cjk libqt6widgets6 libssl3 libcanberra0 ca-certificates netbase xdg-utils
fields Recommends gnome-keyring qt6-translations-l10n
fields Suggests gnome-shell-extension-appindicator gnome-online-accounts
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version $(dpkg-deb -f "$deb" Version)"
# Debian's checkers: lintian on the whole package, the AppStream metainfo and every desktop entry on their own.
# (Its own remarks, such as one on running as root, go to standard error; its findings to standard output.)
lintian --pedantic --fail-on error,warning,info,pedantic "$deb" >"$work/lintian.out" 2>"$work/lintian.err" ||
    fail "lintian: $(cat "$work/lintian.out" "$work/lintian.err")"
[ ! -s "$work/lintian.out" ] || fail "lintian: $(cat "$work/lintian.out")"
mkdir "$work/tree"
dpkg-deb -x "$deb" "$work/tree"
# The docs the README links to lie beside it; the README is the installed user's, who has no source tree.
readme="$work/tree/usr/share/doc/kd5lite/README.md"
for doc in $(grep -o '](docs/[a-z-]*\.md' "$readme" | cut -c3- | sort -u); do
    [ -f "$work/tree/usr/share/doc/kd5lite/$doc" ] || fail "the README links to $doc, which the package lacks"
done
! grep -nE 'scripts/|build/|cmake' "$readme" || fail "the installed README speaks of the source tree"
# One version and one web page: the package's, the programs' pages' and the software centres'.
homepage=$(dpkg-deb -f "$deb" Homepage)
[[ "$homepage" == https://*/corvo/kd5m/chinese/ ]] || fail "Homepage $homepage"
grep -q "<url type=\"homepage\">$homepage</url>" "$work/tree/usr/share/metainfo/"*.metainfo.xml || fail "metainfo URL"
grep -q "<release version=\"$version\"" "$work/tree/usr/share/metainfo/"*.metainfo.xml || fail "metainfo release"
grep -qx "Source: $homepage" "$work/tree/usr/share/doc/kd5lite/copyright" || fail "copyright Source"
for page in kd5lite kd5lite_ap kd5lite_op kd5lite-lampsim; do
    gzip -dc "$work/tree/usr/share/man/man1/$page.1.gz" | head -n 1 | grep -q "\"kd5lite $version\"" ||
        fail "$page.1 names another version"
done
appstreamcli validate --no-net "$work/tree/usr/share/metainfo/"*.metainfo.xml >"$work/appstream.out" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream.out")"
desktop-file-validate "$work/tree/etc/xdg/autostart/kd5lite.desktop" "$work/tree/usr/share/applications/"*.desktop \
    >"$work/desktop.out" 2>&1 || fail "desktop-file-validate: $(cat "$work/desktop.out")"
[ ! -s "$work/desktop.out" ] || fail "desktop-file-validate: $(cat "$work/desktop.out")"
for launcher in "$work/tree/usr/share/applications/"*.desktop; do
    main=$(sed -n 's/^Categories=//p' "$launcher" | tr ';' '\n' |
        grep -cxE 'AudioVideo|Audio|Video|Development|Education|Game|Graphics|Network|Office|Science|Settings|System|Utility' || true)
    [ "$main" -eq 1 ] || fail "$(basename "$launcher") has $main main menu categories"
done
[ "$(dpkg-deb -f "$deb" Maintainer)" = "The kd5lite developers <kd5lite@kestrel.example>" ] || fail "Maintainer"

mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = "/etc/xdg/autostart/kd5lite.desktop" ] || fail "conffiles"
[ -x "$work/control/postinst" ] && [ -x "$work/control/postrm" ] || fail "maintainer scripts"

# A user's settings, which no step of the package may touch.
corvo="$work/home/corvo"
mkdir -p "$corvo" "$work/runtime"
chmod 700 "$corvo" "$work/runtime"

# The scratch root: an empty dpkg database. The scripts run outside a chroot with DPKG_ROOT set, which tells them
# that this is not the running system.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers" "$root/var/log"
touch "$root/var/lib/dpkg/status"
dpkg_root() {
    local force=(--force-script-chrootless --force-depends)
    [ "$(id -u)" -eq 0 ] || force+=(--force-not-root --force-bad-path)
    dpkg --root="$root" --log="$root/var/log/dpkg.log" "${force[@]}" "$@" >"$work/dpkg.out" 2>&1 ||
        fail "dpkg $*: $(cat "$work/dpkg.out")"
}
dpkg_root -i "$deb"
dpkg --root="$root" -s kd5lite | grep -qx 'Status: install ok installed' || fail "not configured"
[ -x "$root/usr/bin/kd5lite" ] || fail "kd5lite not installed"

# The installed programs: the lamp simulator plays the lamp, kd5lite --check finds it and the account.
"$root/usr/bin/kd5lite-lampsim" --serial PKG1 --dir "$work/lamp" >"$work/lampsim.out" 2>&1 &
pids+=($!)
"$pop3server" --port 0 --port-file "$work/port" --user taro:secret >"$work/pop3.out" 2>&1 &
pids+=($!)
for _ in $(seq 600); do # up to 30 s: a busy machine, a sanitizer build of the server
    [ -s "$work/port" ] && [ -n "$(ls "$work/lamp" 2>/dev/null)" ] && break
    sleep 0.05
done
[ -s "$work/port" ] || fail "the POP3 server did not start"
# The password "secret" in its scrambled form, positions in order.
printf '[corvo\\KD-5lite]\nSerialNumber=XPKG1\n[corvo\\KD-5lite\\user00]\nSwitch=1\nServerName=127.0.0.1:%s\nID=taro\nPassword=736563726574\nScramble=000102030405\n' \
    "$(cat "$work/port")" >"$corvo/corvo_kd5lite.ini"
chmod 600 "$corvo/corvo_kd5lite.ini"
before=$(cd "$corvo" && ls -la --time-style=full-iso . && md5sum ./*)

status=0
CORVO_HOME="$corvo" XDG_RUNTIME_DIR="$work/runtime" KD5LITE_SERIAL_DIR="$work/lamp" KD5LITE_TIME_SCALE=0.02 \
    KD5LITE_SYSFS_ROOT="$work/sys" "$root/usr/bin/kd5lite" --check >"$work/check.out" 2>&1 || status=$?
# No notifier runs here, so the one FAIL is that line: the lamp would stay dark until one runs and monitors.
[ "$status" -eq 1 ] || fail "kd5lite --check exit $status: $(cat "$work/check.out")"
[ "$(grep -c '^FAIL ' "$work/check.out")" -eq 1 ] && grep -q '^FAIL notifier: none runs for you' "$work/check.out" ||
    fail "other failures than the notifier: $(cat "$work/check.out")"
grep -q "^ok   lamp: all LEDs off, answer 'Y'$" "$work/check.out" || fail "no lamp answer: $(cat "$work/check.out")"
grep -q "^ok   account 1 (red): POP3 login accepted; count 0" "$work/check.out" || fail "$(cat "$work/check.out")"

# The autostart entry starts the notifier only for a user with a settings file: anyone else's login makes nothing.
fresh="$work/home/fresh"
exec_line=$(sed -n 's/^Exec=//p' "$root/etc/xdg/autostart/kd5lite.desktop")
[ "$exec_line" = "/usr/bin/kd5lite --autostart" ] || fail "autostart Exec=$exec_line"
CORVO_HOME="$fresh" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen timeout 60 \
    "$root/usr/bin/kd5lite" --autostart >"$work/autostart.out" 2>&1 || fail "kd5lite --autostart: $(cat "$work/autostart.out")"
[ ! -e "$fresh" ] || fail "kd5lite --autostart made $fresh"

# Remove keeps only the conffile, as Debian does; purge leaves nothing. The settings stay as they were.
leftovers() { (cd "$root" && find . -path ./var -prune -o ! -type d -print | sort); }
dpkg_root -r kd5lite
[ "$(leftovers)" = "./etc/xdg/autostart/kd5lite.desktop" ] || fail "after remove: $(leftovers)"
dpkg_root -P kd5lite
[ -z "$(leftovers)" ] || fail "after purge: $(leftovers)"
[ -z "$(cd "$root" && find . -path ./var -prune -o -type d ! -name . -print)" ] || fail "directories left behind"
after=$(cd "$corvo" && ls -la --time-style=full-iso . && md5sum ./*)
[ "$before" = "$after" ] || fail "the settings directory changed"
echo "package test: $(basename "$deb") built, listed, installed, checked, removed and purged"
