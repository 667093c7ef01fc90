// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

// New mail as the desktop and other programs are told of it: one announcement per account and pass, made by the
// monitor's job thread and sent by the window thread, which owns the session bus connection.

struct NewMessage {
    std::string sender;
    std::string subject;
    std::string folder = {}; // an IMAP account of several folders: the one it is in, before it on its row
};

struct Announcement {
    int account = 0;
    std::string label; // the account's name or address
    int count = 0;     // what lights the LED now
    std::vector<NewMessage> newest; // up to three of the new messages, newest first; empty when unknown
    bool desktop = true;            // a desktop notification too: off for an account that wants the lamp alone
};

void announce(Announcement announcement);
std::vector<Announcement> take_announcements();

// The notification's texts: the summary names the account and its count; the body has a line per new message,
// its folder where the account watches several ("Work · sender：subject"), sender and subject, at most three, with "……"
// when there were more. The body is markup for servers that read markup (body-markup), so &, < and > are escaped.
struct NotificationText {
    std::string summary;
    std::string body;
};
NotificationText notification_text(const Announcement& announcement);

// Text as a notification body that servers may read as markup takes it: &, < and > escaped.
std::string markup_escaped(const std::string& text);
