// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lamp/sound.h"
#include "mail/core/account.h"
#include "mail/core/check_ids.h"

#include <string>
#include <string_view>
#include <vector>

// New mail as the desktop and other programs are told of it. The monitor's job thread takes each check of an
// account in (news_after_check) and queues what the account's one notification is to do: come or be replaced with
// the new mail, or go because the mail it told of was read, acknowledged or taken away. The window thread, which
// owns the session bus connection, takes the queue at each tick; the bus service and the hook hear of new mail.

struct NewMessage {
    std::string sender;
    std::string subject;
    std::string folder = {}; // an IMAP account of several folders: the one it is in, before it on its row
};

struct Announcement {
    enum class Kind {
        new_mail,  // show the account's notification, or replace the one it has
        withdrawn, // close it: its mail no longer waits
    };
    Kind kind = Kind::new_mail;
    int account = 0;
    std::string label;                  // the account's name or address
    int count = 0;                      // what lights the LED now
    int fresh = 0;                      // the new messages the notification tells of, from this pass and the passes
                                        // before it while it stood
    std::vector<NewMessage> newest;     // up to three of them, newest first; empty when unknown
    bool quiet = false;                 // quiet hours, a snooze or the desktop inhibited: low, and no sound
    bool sound_by_notification = false; // the theme's new-mail sound goes with the notification (sound-name)
    bool desktop = true;                // a desktop notification too: off for an account that wants the lamp alone
};

void announce(Announcement announcement);
std::vector<Announcement> take_announcements();

// Job thread, before a check of the account: whether one of its messages was told of already (CheckIds::announced).
std::function<bool(std::string_view validity, std::string_view id)> announced_filter(const Account& account);

// Job thread, after a check of the account that worked, with the count the lamp shows (after the acknowledge):
// remembers what it counted in the state file (so a restart or an outage tells nothing twice) and queues the
// announcement it calls for, if any. The lamp's own start-up behaviour does not depend on it.
void news_after_check(const Account& account, int count, const CheckIds& ids);

// Window thread: the account's notification went (closed by the user or the server, acknowledged, monitoring
// stopped): the next new mail starts a notification of its own rather than adding to it. -1: every account.
void forget_standing_notification(int account);

// Window thread: whether the notification server plays a sound named with the notification (its "sound"
// capability). The job thread then leaves the theme's sound of a silent lamp to the notification.
void set_notification_sounds(bool offered);

// The lamp's question (set_theme_sound_elsewhere): whether the last announcement of the LED's account carries the
// theme's sound. Asked once per announcement.
bool theme_sound_taken(int led);

// The notification's texts: the summary names the account and the new messages, with the waiting count when more
// wait ("taro@example.org：1 封新邮件（共 3 封）"); the body has a line per new message, sender and subject (after its
// folder where the account watches several: "Work · sender：subject"), at most three, and "……" when it told of more. With markup (the server offers body-markup) &, < and > are escaped;
// without, the text goes as it is.
struct NotificationText {
    std::string summary;
    std::string body;
};
NotificationText notification_text(const Announcement& announcement, bool markup);

// The state file of what was announced, beside the acknowledge memory's.
std::string announced_file_path();

// Forgets what was loaded and what stands, as a new process would (tests).
void announcements_reset_for_test();

// Text as a notification body that servers may read as markup takes it: &, < and > escaped.
std::string markup_escaped(const std::string& text);
