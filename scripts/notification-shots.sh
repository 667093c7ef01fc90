#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Retakes the notification pictures of the user guide from a real notification daemon (dunst, Debian's package of
# that name) on an X display and a session bus of their own: the notifier checks the tests' POP3 server program,
# which holds three messages and then five, so that the second picture is the same notification replaced in place.
#     scripts/notification-shots.sh [build directory] [picture directory]
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath "${2:-docs/screenshots}")
tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${KD5_KEEP_SHOTS_DIR:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT

Xvfb -displayfd 3 -nolisten tcp -screen 0 800x400x24 3>"$tmp/display" >/dev/null 2>&1 &
pids+=($!)
until [ -s "$tmp/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"
dbus-daemon --session --nofork --address="unix:path=$tmp/bus" >/dev/null 2>&1 &
pids+=($!)
until [ -S "$tmp/bus" ]; do sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/bus"

cat >"$tmp/dunstrc" <<'CONF'
[global]
    width = 400
    height = 300
    origin = top-right
    offset = 10x10
    font = Noto Sans CJK SC 10
    markup = full
    format = "<b>%s</b>\n%b"
    icon_position = left
    min_icon_size = 48
    max_icon_size = 48
    frame_width = 1
    frame_color = "#4a4a4a"
    padding = 10
    show_indicators = no
    horizontal_padding = 10
[urgency_normal]
    background = "#2b2b30"
    foreground = "#eeeeec"
    timeout = 0
CONF
dunst -config "$tmp/dunstrc" >"$tmp/dunst.out" 2>&1 &
pids+=($!)

mkdir -p "$tmp/maildrop" "$tmp/corvo"
message() { # number, sender, subject
    printf 'From: %s\r\nSubject: %s\r\n\r\nHello.\r\n' "$2" "$3" >"$tmp/maildrop/$1.eml"
}
message 1 "李四 <lisi@example.cn>" "周报已提交"
message 2 "Mail Delivery <postmaster@example.org>" "Your mailbox is almost full"
message 3 "张三 <zhangsan@example.cn>" "周五的会议改到下午三点"
"$build/bin/kd5lite-pop3server" --port 0 --port-file "$tmp/port" --user "taro@example.org:secret" --maildir "$tmp/maildrop" \
    >/dev/null 2>&1 &
pids+=($!)
until [ -s "$tmp/port" ]; do sleep 0.1; done

# Monitoring resumes at the start (Job 101), without a lamp: the notification is what the pictures show. The
# password "secret" in its stored form, every byte at its own place.
cat >"$tmp/corvo/corvo_kd5lite.ini" <<INI
[corvo\\KD-5lite]
IntervalTimer=1
BeepTime=0
Job=101
[corvo\\KD-5lite\\user00]
Switch=1
ServerName=127.0.0.1:$(cat "$tmp/port")
ID=taro@example.org
Password=736563726574
Scramble=000102030405
INI
CORVO_HOME="$tmp/corvo" XDG_RUNTIME_DIR="$tmp" QT_QPA_PLATFORM=offscreen KD5LITE_TIME_SCALE=0.02 \
    "$build/bin/kd5lite" >"$tmp/kd5lite.out" 2>&1 &
pids+=($!)

# A notification daemon shows as it likes and says nothing when: give it a moment after each pass.
sleep 4
"$build/bin/kd5lite_shots" --grab 385 0 410 140 "$out/notification.png"
message 4 "Wang Wu <wangwu@example.com>" "Re: 报价单"
message 5 "张三 <zhangsan@example.cn>" "会议室改为 3 楼"
sleep 4
"$build/bin/kd5lite_shots" --grab 385 0 410 140 "$out/notification-replaced.png"
echo "notification.png and notification-replaced.png in $out"
