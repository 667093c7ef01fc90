// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

// Every field holds its value as a zero-terminated text. Each field is one byte wider than the widest value the
// tools let a user type, so a value typed at the full limit keeps its terminator; a longer value read from the
// file is cut to fit.
inline constexpr int kAccountCount = 3;

struct UserAccount {
    char Switch[4 + 1];
    char ServerName[64 + 1];
    char ID[32 + 1];
    char Password[64 + 1];
    char Scramble[65 + 1];
    char SoundFile[128 + 1];
    char SpecialAddress1[64 + 1];
    char SpecialAddress2[64 + 1];
    char SpecialAddress3[64 + 1];
    char SpecialSearch1[16 + 1];
    char SpecialSearch2[16 + 1];
    char SpecialSearch3[16 + 1];
    // Added after the keys above, so a file without them still reads as before: empty means plain POP3.
    char Security[4 + 1];        // "0" or empty: plain POP3; "1": STLS (RFC 2595); "2": TLS from the first byte
    char TlsFingerprint[95 + 1]; // SHA-256 of a certificate trusted as it is: 32 hex pairs, colons between or not
    // Added after the security keys for the same reason: empty means POP3, and for IMAP the INBOX.
    char Protocol[4 + 1]; // "0" or empty: POP3; "1": IMAP
    char Folder[128 + 1]; // IMAP mailbox to watch, UTF-8; empty: INBOX
    // Added after the protocol keys: empty means the password is in Password and Scramble, as older files have it.
    char SecretStore[4 + 1]; // "1": the password is in the desktop keyring, and Password and Scramble are empty
    // Added after the protocol keys for the same reason: empty Auth means the password.
    char Auth[4 + 1];           // "0" or empty: password; "1": OAuth2
    char OAuthSource[4 + 1];    // "1": sign-in in the browser; "2": GNOME Online Accounts; "3": token command
    char OAuthProvider[16 + 1]; // "google", "microsoft" or "custom"
    char AuthUrl[255 + 1];      // custom provider: authorization endpoint
    char TokenUrl[255 + 1];     // custom provider: token endpoint
    char Scope[255 + 1];        // custom provider: scopes, separated by spaces
    char ClientId[128 + 1];     // the user's own client id; empty: the one the build brings
    char OnlineAccount[64 + 1]; // source 2: the online account's Id
    char TokenCommand[255 + 1]; // source 3: a program and its arguments, split on spaces
    // Added after the protocol keys: a desktop notification for the account's new mail, "1" (the default) or "0".
    char Notify[4 + 1];
};

struct Settings {
    char Request[4 + 1];
    char State[4 + 1];
    char Answer[4 + 1];
    char Error[4 + 1];
    char Job[4 + 1];
    char Company[32 + 1];
    char Brand[32 + 1];
    char Product[32 + 1];
    char Type[32 + 1];
    char SerialNumber[16 + 1];
    char CurrentPath[128 + 1];
    char Language[16 + 1];
    char Version[16 + 1];
    char EntryCount[4 + 1];
    char IntervalTimer[4 + 1];
    char BeepTime[4 + 1];
    UserAccount user[kAccountCount];
    char StateLog[4 + 1];
    char ErrorLog[4 + 1];
};

// The program's one record. The notifier's window and job threads share it: the command keys, which both
// threads refresh and write, go through the locked accessors of settings_access.h.
extern Settings g_settings;

// Empties every field (program start; tests).
void settings_clear();
