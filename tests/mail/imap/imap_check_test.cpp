// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/account_settings.h"
#include "mail/core/check_ids.h"
#include "mail/core/check_outcome.h"
#include "mail/core/check_stop.h"
#include "mail/imap/folder_count.h"
#include "mail/imap/imap_session.h"
#include "mail/mail_check.h"

#include "mail/net/cancel_signal.h"
#include "settings/settings_access.h"
#include "tests/mail/mail_test_env.h"
#include "tests/mail/test_pki.h"
#include "tests/support/lampsim_handle.h"
#include "tools/imapserver/imap_server.h"
#include "tools/pop3server/pop3_message.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kPlain = "k2 AUTHENTICATE PLAIN AGFsaWNlAHNlY3JldA=="; // "\0alice\0secret"

// Account 0 as an IMAP account of alice / secret on a scripted server.
class ImapCheck : public MailTest {
protected:
    void serve(std::vector<ImapMessage> messages, ImapScript script = {}, const std::string& password = "secret",
               std::vector<ImapFolder> folders = {}) {
        ImapMailbox box;
        box.password = password;
        box.messages = std::move(messages);
        box.folders = std::move(folders);
        server_ = std::make_unique<ImapServer>(std::map<std::string, ImapMailbox>{{"alice", box}}, script);
        ASSERT_TRUE(server_->start()) << server_->error();
        set_account(0, server_->server_name(), "alice", password);
        settings_set(Key::Protocol, "1", 0);
    }

    // The folders of a Gmail account, each with mail: unseen in all but Drafts, two read in Work.
    static std::vector<ImapFolder> gmail_folders() {
        return {{"Work", "\\HasNoChildren", mail({"a@b", "c@d", "e@f"}, 2)},
                {"[Gmail]", "\\HasChildren \\Noselect", {}},
                {"[Gmail]/All Mail", "\\All \\HasNoChildren", mail({"a@b", "c@d", "e@f", "g@h"})},
                {"[Gmail]/Drafts", "\\Drafts \\HasNoChildren", mail({"a@b"}, 1)},
                {"[Gmail]/Important", "\\HasNoChildren \\Important", mail({"a@b"})},
                {"[Gmail]/Sent Mail", "\\HasNoChildren \\Sent", mail({"a@b"})},
                {"[Gmail]/Spam", "\\HasNoChildren \\Junk", mail({"spam@spam"})},
                {"[Gmail]/Starred", "\\Flagged \\HasNoChildren", mail({"a@b"})},
                {"[Gmail]/Trash", "\\HasNoChildren \\Trash", mail({"a@b"})}};
    }

    static Lines starting_with(const Lines& commands, const std::string& word) {
        Lines found;
        for (const std::string& c : commands) {
            if (c.find(' ') != std::string::npos && c.substr(c.find(' ') + 1).rfind(word, 0) == 0) {
                found.push_back(c.substr(c.find(' ') + 1));
            }
        }
        return found;
    }

    static std::vector<ImapMessage> mail(const Lines& senders, std::size_t seen = 0) {
        std::vector<ImapMessage> messages;
        for (const std::string& from : senders) {
            messages.push_back({make_message(from, "alice@kd5lite.test", "hello"), messages.size() < seen});
        }
        return messages;
    }

    std::unique_ptr<ImapServer> server_;
};

TEST_F(ImapCheck, CountsUnseenMessagesReadOnlyWithExactCommands) {
    serve(mail(Lines(5, "Taro <taro@example.com>"), 2));
    EXPECT_EQ(mail_check(0), 3);
    EXPECT_EQ(server_->commands(), (Lines{"k1 CAPABILITY", kPlain, "k3 CAPABILITY", "k4 EXAMINE \"INBOX\"",
                                          "k5 SEARCH UNSEEN", "k6 LOGOUT"}));
    EXPECT_EQ(server_->seen("alice"), (std::vector<bool>{true, true, false, false, false}));
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// The login the server's capabilities call for, and the quoting each text needs.
TEST_F(ImapCheck, LogsInAsTheCapabilitiesAllow) {
    struct Case {
        std::string capabilities;
        std::string password;
        Lines login; // the commands between the first CAPABILITY and the second
        int result;
    } cases[] = {
        {"IMAP4rev1 AUTH=PLAIN SASL-IR", "secret", {kPlain}, 1},
        {"IMAP4rev1 AUTH=PLAIN", "secret", {"k2 AUTHENTICATE PLAIN", "AGFsaWNlAHNlY3JldA=="}, 1},
        {"IMAP4rev1", "secret", {"k2 LOGIN \"alice\" \"secret\""}, 1},
        {"IMAP4rev1", "pa\"ss\\", {"k2 LOGIN \"alice\" \"pa\\\"ss\\\\\""}, 1},
        {"IMAP4rev1", "p\xc3\xa4ss word", {"k2 LOGIN \"alice\" {10}\r\np\xc3\xa4ss word"}, 1},
    };
    for (const auto& c : cases) {
        ImapScript script;
        script.capabilities = c.capabilities;
        serve(mail({"a@b"}), script, c.password);
        EXPECT_EQ(imap_check(0), c.result) << c.capabilities;
        Lines commands = server_->commands();
        ASSERT_GE(commands.size(), 2 + c.login.size()) << c.capabilities;
        EXPECT_EQ(Lines(commands.begin() + 1, commands.begin() + 1 + static_cast<long>(c.login.size())), c.login);
    }
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// Negative answers give 0 with the step's line; nothing after the refusal is sent.
TEST_F(ImapCheck, RefusalsGiveZeroWithTheStepsLine) {
    struct Case {
        std::string name;
        std::string reply;
        std::string capabilities;
        std::string line;
    } cases[] = {
        {"GREETING", "* BYE too busy\r\n", "", "[a connection confirmation] message[no.0 error: 0]"},
        {"AUTHENTICATE", "%TAG% NO [AUTHENTICATIONFAILED] no\r\n", "", "[a login] message[no.0 error: 0]"},
        {"LOGIN", "%TAG% NO no\r\n", "IMAP4rev1", "[a login] message[no.0 error: 0]"},
        {"EXAMINE", "%TAG% NO [NONEXISTENT] gone\r\n", "", "[a folder examination command] message[no.0 error: 0]"},
        {"SEARCH", "%TAG% BAD what?\r\n", "", "[an unread search command] message[no.0 error: 0]"},
    };
    for (const auto& c : cases) {
        clear_error_log();
        ImapScript script;
        if (c.name == "GREETING") {
            script.greeting = c.reply;
        } else {
            script.replies[c.name] = c.reply;
        }
        if (!c.capabilities.empty()) {
            script.capabilities = c.capabilities;
        }
        serve(mail({"a@b", "c@d"}), script);
        EXPECT_EQ(imap_check(0), 0) << c.name;
        EXPECT_EQ(error_lines(), Lines{"check mail ---> Contents abnormality of an IMAP confirmation " + c.line})
            << c.name;
        Lines commands = server_->commands();
        if (!commands.empty()) {
            EXPECT_NE(commands.back().find(c.name), std::string::npos) << c.name;
        }
    }

    clear_error_log();
    ImapScript disabled;
    disabled.capabilities = "IMAP4rev1 LOGINDISABLED";
    serve(mail({"a@b"}), disabled);
    EXPECT_EQ(imap_check(0), 0);
    EXPECT_EQ(server_->commands(), Lines{"k1 CAPABILITY"}); // no password in clear
    EXPECT_EQ(error_lines(), Lines{"check mail ---> LOGIN is disabled by the IMAP server[no.0 error: 13]"});
}

// A server that breaks down gives -1 within the receive budget, with the step's line after the connection's.
TEST_F(ImapCheck, BrokenServersFailTheCheckWithinTheBudget) {
    struct Case {
        ImapFault fault;
        std::string at;
        std::string line;
    } cases[] = {
        {ImapFault::mute, "GREETING", "The reception of an IMAP confirmation [a connection confirmation] message"},
        {ImapFault::mute, "SEARCH", "The reception of an IMAP confirmation [an unread search command] message"},
        {ImapFault::close, "EXAMINE", "The reception of an IMAP confirmation [an unread search command] message"},
        {ImapFault::reset, "AUTHENTICATE", "The reception of an IMAP confirmation [a login] message"},
        {ImapFault::endless_literal, "FETCH", "The reception of an IMAP confirmation [a header fetch command]"},
        {ImapFault::endless_line, "CAPABILITY", "[a capability command]"},
    };
    Timing t = timing();
    t.select_timeout_ms = 20; // a budget of 61 waits of 20 ms
    set_timing(t);
    for (const auto& c : cases) {
        clear_error_log();
        ImapScript script;
        script.fault = c.fault;
        script.fault_at = c.at;
        serve(mail({"Taro <taro@example.com>"}), script);
        set_filter(0, 0, "taro@example.com", "1");
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(imap_check(0), -1) << c.at;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << c.at;
        Lines lines = error_lines();
        ASSERT_FALSE(lines.empty()) << c.at;
        EXPECT_NE(lines.back().find(c.line), std::string::npos) << c.at << ": " << lines.back();
        server_->stop();
    }
}

TEST_F(ImapCheck, ByeInTheMiddleOfACommandIsAFailure) {
    ImapScript script;
    script.replies["SEARCH"] = "* BYE shutting down\r\n";
    serve(mail({"a@b"}), script);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_EQ(error_lines(), Lines{"check mail ---> The IMAP server ended the connection [an unread search "
                                   "command][no.0 error: 104]"});
}

// Headers come as literals cut into pieces of 3 bytes over many reads; the hits follow the POP3 filter rules on
// the header block alone, and the fetch never marks a message read.
TEST_F(ImapCheck, SenderFiltersCountHitsInHeadersSplitAcrossReads) {
    ImapScript script;
    script.piece_bytes = 3;
    serve(mail({"Taro <taro@example.com>", "taro@example.com", "Jiro <jirotaro@example.com>", "x@y"}, 1), script);
    set_filter(0, 0, "taro@example.com", "1");
    set_filter(0, 1, "jiro", "2");
    EXPECT_EQ(imap_check(0), 1 + 1); // message 1 is read; 2 by its bare address, 3 by "jiro" in part of one
    Lines commands = server_->commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "k6 UID FETCH 2:4 (BODY.PEEK[HEADER])"), commands.end());
    EXPECT_EQ(server_->seen("alice"), (std::vector<bool>{true, false, false, false}));
    EXPECT_FALSE(dir_.exists("err07.log"));
}

TEST_F(ImapCheck, FolderNamesGoInModifiedUtf7OrUtf8WhenEnabled) {
    const std::string folder = "Entw\xc3\xbcrfe";
    ImapScript script;
    script.folder = "Entw&APw-rfe";
    serve(mail({"a@b"}), script);
    settings_set(Key::Folder, folder.c_str(), 0);
    EXPECT_EQ(imap_check(0), 1);
    EXPECT_EQ(server_->commands()[3], "k4 EXAMINE \"Entw&APw-rfe\"");

    script.folder = folder;
    script.capabilities += " UTF8=ACCEPT";
    serve(mail({"a@b"}), script);
    settings_set(Key::Folder, folder.c_str(), 0);
    EXPECT_EQ(imap_check(0), 1);
    EXPECT_EQ(server_->commands()[3], "k4 ENABLE UTF8=ACCEPT");
    EXPECT_EQ(server_->commands()[4], "k5 EXAMINE \"" + folder + "\"");

    settings_set(Key::Folder, "bad\xff", 0);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_EQ(error_lines(), Lines{"check mail ---> The folder name is abnormal[no.0 error: 84]"});
}

// "Every folder" on a Gmail account, over the LIST each server can give: one LIST with the statuses where it
// offers LIST-STATUS (RFC 5819), else a STATUS for each folder; only a folder with unseen mail is opened. Catches
// All Mail counting every message twice, Spam and Trash lighting the LED, and a folder opened to learn it has
// nothing new.
TEST_F(ImapCheck, EveryFolderOfGmailCountsInboxAndWorkAlone) {
    const struct Row {
        const char* name;
        std::string capabilities;
        std::string list; // the LIST command sent
        Lines statuses;   // the STATUS commands sent
        Lines examined;   // the EXAMINE commands sent
    } rows[] = {
        {"LIST-STATUS",
         "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE LIST-EXTENDED LIST-STATUS SPECIAL-USE",
         "LIST \"\" \"*\" RETURN (SPECIAL-USE STATUS (UNSEEN UIDVALIDITY))",
         {},
         {"EXAMINE \"INBOX\""}},
        {"a STATUS for each",
         "IMAP4rev1 AUTH=PLAIN SASL-IR IDLE LIST-EXTENDED SPECIAL-USE",
         "LIST \"\" \"*\" RETURN (SPECIAL-USE)",
         {"STATUS \"INBOX\" (UNSEEN UIDVALIDITY)", "STATUS \"Work\" (UNSEEN UIDVALIDITY)"},
         {"EXAMINE \"INBOX\""}},
        {"plain LIST, CONDSTORE",
         "IMAP4rev1 AUTH=PLAIN SASL-IR CONDSTORE",
         "LIST \"\" \"*\"",
         {"STATUS \"INBOX\" (UNSEEN UIDVALIDITY HIGHESTMODSEQ)", "STATUS \"Work\" (UNSEEN UIDVALIDITY HIGHESTMODSEQ)"},
         {"EXAMINE \"INBOX\""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImapScript script;
        script.capabilities = row.capabilities;
        serve(mail({"x@y", "z@w"}, 1), script, "secret", gmail_folders());
        settings_set(Key::Folders, "*", 0);
        CheckIds ids;
        ids.announce_above = 0;
        EXPECT_EQ(mail_check(read_account(0), &ids), 1 + 1); // INBOX's unseen one and Work's
        const Lines commands = server_->commands();
        EXPECT_EQ(starting_with(commands, "LIST"), Lines{row.list});
        EXPECT_EQ(starting_with(commands, "STATUS"), row.statuses);
        // Work's unseen one is counted from its STATUS too, but must be opened for its UID: only "[Gmail]..." never.
        Lines examined = starting_with(commands, "EXAMINE");
        EXPECT_EQ(examined.size(), 2u);
        EXPECT_EQ(examined.front(), row.examined.front());
        EXPECT_EQ(examined.back(), "EXAMINE \"Work\"");
        ASSERT_EQ(ids.folders.size(), 2u);
        EXPECT_EQ(ids.folders[0].name, "INBOX");
        EXPECT_EQ(ids.folders[1].name, "Work");
        EXPECT_EQ(ids.folders[1].count, 1);
        EXPECT_TRUE(ids.known);
        EXPECT_EQ(ids.messages.size(), 2u);
        EXPECT_EQ(ids.newest_headers.size(), 2u);
        EXPECT_EQ(ids.newest_folders.size(), 2u);
        EXPECT_EQ(server_->seen("alice", "[Gmail]/All Mail"), std::vector<bool>(4, false));
        EXPECT_FALSE(dir_.exists("err07.log"));
    }
}

// The acknowledge names each counted message by its folder, UIDVALIDITY and UID, which are atoms: a check that
// read only strings learned none, and every acknowledge fell back to the count.
TEST_F(ImapCheck, CountedMessagesAreNamedByFolderValidityAndUid) {
    serve(mail({"a@b", "c@d", "e@f"}, 1));
    CheckIds ids;
    EXPECT_EQ(mail_check(read_account(0), &ids), 2);
    EXPECT_TRUE(ids.known);
    ASSERT_EQ(ids.messages.size(), 2u);
    EXPECT_EQ(ids.messages[0].id, folder_message_id("INBOX", "7", 2));
    EXPECT_EQ(ids.messages[1].id, folder_message_id("INBOX", "7", 3));
    EXPECT_TRUE(ids.folders.empty()); // one folder: nothing to tell apart
    EXPECT_EQ(starting_with(server_->commands(), "UID SEARCH"), Lines{"UID SEARCH UNSEEN"});
    EXPECT_TRUE(starting_with(server_->commands(), "FETCH").empty()); // the UIDs come with the search

    // The same UID in another folder, or under another UIDVALIDITY, is another message.
    EXPECT_NE(folder_message_id("INBOX", "7", 2), folder_message_id("Work", "7", 2));
    EXPECT_NE(folder_message_id("INBOX", "7", 2), folder_message_id("INBOX", "8", 2));
    EXPECT_LE(folder_message_id(std::string(900, 'x'), "4294967295", 4294967295u).size(), 70u);
}

// A folder of the list that the server no longer has is left out with one line, the others counted as before;
// the line comes again only after the folder was back.
TEST_F(ImapCheck, AFolderGoneFromTheServerIsLeftOutWithOneLine) {
    serve(mail({"a@b"}), {}, "secret", {{"Work", "", mail({"c@d", "e@f"})}});
    settings_set(Key::Folders, "\"INBOX\" \"Old\" \"Work\"", 0);
    const Lines gone = {"check mail ---> The IMAP folder is gone and is left out [Old][no.0 error: 2]"};
    EXPECT_EQ(mail_check(0), 3);
    EXPECT_EQ(mail_check(0), 3);
    EXPECT_EQ(error_lines(), gone);
    server_->remove_folder("alice", "Work");
    EXPECT_EQ(mail_check(0), 1);
    EXPECT_EQ(error_lines().size(), 2u);

    // A Folders key edited into no list: Folder alone, said once.
    clear_error_log();
    settings_set(Key::Folders, "Work, Old", 0);
    EXPECT_EQ(mail_check(0), 1);
    EXPECT_EQ(mail_check(0), 1);
    EXPECT_EQ(error_lines(),
              Lines{"check mail ---> The Folders setting is abnormal: Folder alone is watched[no.0 error: 22]"});
}

TEST_F(ImapCheck, ProtocolAndStarttlsSettingsThatForbidAConnection) {
    serve(mail({"a@b"}));
    settings_set(Key::Protocol, "x", 0);
    EXPECT_EQ(mail_check(0), -1);
    settings_set(Key::Protocol, "2", 0);
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_EQ(server_->connections(), 0);
    EXPECT_EQ(error_lines(), (Lines{"check mail ---> The protocol setting is abnormal[no.0 error: 22]",
                                    "check mail ---> The protocol setting is abnormal[no.0 error: 22]"}));

    // STARTTLS asked for but not offered: no login in clear.
    clear_error_log();
    settings_set(Key::Protocol, "1", 0);
    settings_set(Key::Security, "1", 0);
    EXPECT_EQ(mail_check(0), -1);
    EXPECT_EQ(server_->commands(), Lines{"k1 CAPABILITY"});
    EXPECT_EQ(error_lines(), Lines{"check mail ---> STARTTLS is not offered by the IMAP server[no.0 error: 71]"});
}

// The primitives of the push: a change while idling, quiet, the end of IDLE, and a BYE in the middle of it.
TEST_F(ImapCheck, IdleReportsChangesQuietAndTheEnd) {
    ImapScript script;
    serve(mail({"a@b"}), script);
    ImapSession session(read_account(0));
    ASSERT_EQ(session.open(), ImapSession::Result::ok);
    ASSERT_EQ(session.examine(), ImapSession::Result::ok);
    EXPECT_TRUE(session.offers("IDLE"));
    ASSERT_EQ(session.start_idle(), ImapSession::Result::ok);
    EXPECT_EQ(session.wait_idle(20), ImapSession::IdleEvent::nothing);
    server_->push("* OK still here\r\n* 2 EXISTS\r\n");
    EXPECT_EQ(session.wait_idle(5000), ImapSession::IdleEvent::change);
    server_->push("* 1 FETCH (FLAGS (\\Seen))\r\n");
    EXPECT_EQ(session.wait_idle(5000), ImapSession::IdleEvent::change);
    EXPECT_EQ(session.stop_idle(5000), ImapSession::Result::ok);
    EXPECT_EQ(session.logout(), ImapSession::Result::ok);
    EXPECT_FALSE(dir_.exists("err07.log"));

    script.fault = ImapFault::bye;
    script.fault_at = "IDLE";
    serve(mail({"a@b"}), script);
    ImapSession dropped(read_account(0));
    ASSERT_EQ(dropped.open(), ImapSession::Result::ok);
    ASSERT_EQ(dropped.examine(), ImapSession::Result::ok);
    ASSERT_EQ(dropped.start_idle(), ImapSession::Result::ok);
    EXPECT_EQ(dropped.wait_idle(5000), ImapSession::IdleEvent::gone);
    EXPECT_FALSE(dropped.is_open());

    // DONE without an answer: a dead connection within the wait given.
    script.fault = ImapFault::mute;
    script.fault_at = "DONE";
    serve(mail({"a@b"}), script);
    ImapSession silent(read_account(0));
    ASSERT_EQ(silent.open(), ImapSession::Result::ok);
    ASSERT_EQ(silent.examine(), ImapSession::Result::ok);
    ASSERT_EQ(silent.start_idle(), ImapSession::Result::ok);
    EXPECT_EQ(silent.stop_idle(50), ImapSession::Result::failed);
    EXPECT_FALSE(silent.is_open());
}

// Bytes a man in the middle puts after the server's answer to STARTTLS are never read as the server's, and a
// refused STARTTLS ends the check.
TEST_F(ImapCheck, BytesAfterTheStarttlsAnswerEndTheCheck) {
    ImapScript script;
    script.capabilities += " STARTTLS";
    script.replies["STARTTLS"] = "%TAG% OK begin\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n";
    serve(mail({"a@b"}), script);
    settings_set(Key::Security, "1", 0);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_EQ(server_->commands(), (Lines{"k1 CAPABILITY", "k2 STARTTLS"}));

    // Refused: a failure, never a login in clear.
    clear_error_log();
    script.replies["STARTTLS"] = "%TAG% NO not today\r\n";
    serve(mail({"a@b"}), script);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_EQ(server_->commands(), (Lines{"k1 CAPABILITY", "k2 STARTTLS"}));
    EXPECT_EQ(error_lines(), Lines{"check mail ---> STARTTLS was refused[no.0 error: 71]"});
}

// A session used again learns everything afresh: a STARTTLS server whose greeting names no capabilities, and a
// UTF-8 folder that needs ENABLE on each connection. Reusing what the last connection learnt skipped STARTTLS
// ("not offered": the list was the one after the login) and sent the name as 8-bit without ENABLE.
TEST_F(ImapCheck, EachConnectionOfASessionLearnsTheCapabilitiesAfresh) {
    const std::string pki = dir_.path("pki");
    std::filesystem::create_directory(pki);
    const TestAuthority::Issued own = TestAuthority::self_signed(pki, "home", "IP:127.0.0.1");
    const std::string folder = "Entw\xc3\xbcrfe";
    ImapScript script;
    script.tls = ImapTls::starttls;
    script.certificate_file = own.certificate_file;
    script.key_file = own.key_file;
    script.capabilities += " UTF8=ACCEPT ID";
    script.folder = folder;
    serve(mail({"a@b"}), script);
    settings_set(Key::Security, "1", 0);
    settings_set(Key::TlsFingerprint, own.fingerprint.c_str(), 0);
    settings_set(Key::Folder, folder.c_str(), 0);
    ImapSession session(read_account(0));
    for (int connection = 1; connection <= 3; ++connection) {
        ASSERT_EQ(session.open(), ImapSession::Result::ok) << connection << "\n" << all_files();
        ASSERT_EQ(session.examine(), ImapSession::Result::ok) << connection << "\n" << all_files();
        session.close();
    }
    const Lines commands = server_->commands();
    for (const char* each : {" STARTTLS", " ENABLE UTF8=ACCEPT", " ID (\"name\" \"kd5lite\" \"version\" \"",
                             " EXAMINE \"" }) {
        EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                                [&](const std::string& c) { return c.find(each) != std::string::npos; }),
                  3)
            << each;
    }
    EXPECT_FALSE(dir_.exists("err07.log")) << all_files();
}

// The count without sender filters: ESEARCH's COUNT where offered, else SEARCH's numbers each counted once, even
// for a folder far larger than a megabyte of numbers. A server that sends numbers for ever is broken and given up
// with its line, with what it sent bounded.
TEST_F(ImapCheck, UnseenCountsHoldAgainstDuplicatesHugeFoldersAndFloods) {
    std::string huge = "* SEARCH";
    for (int n = 1; n <= 200000; ++n) {
        huge += " " + std::to_string(n);
    }
    struct Case {
        const char* name;
        std::string capabilities; // added
        std::string search;       // the reply to SEARCH, before the tagged OK
        int count;
        std::string command;
    } cases[] = {
        {"duplicates", "", "* SEARCH 1 1 2 2\r\n* SEARCH 2 3 1\r\n", 3, "k5 SEARCH UNSEEN"},
        {"ESEARCH", " ESEARCH", "* ESEARCH (TAG \"k5\") COUNT 200000\r\n", 200000,
         "k5 SEARCH RETURN (COUNT) UNSEEN"},
        {"ESEARCH of another command", " ESEARCH", "* ESEARCH (TAG \"k4\") COUNT 7\r\n", 0,
         "k5 SEARCH RETURN (COUNT) UNSEEN"},
        {"200,000 unseen without ESEARCH", "", huge + "\r\n", 200000, "k5 SEARCH UNSEEN"},
    };
    for (const Case& c : cases) {
        ImapScript script;
        script.capabilities += c.capabilities;
        script.replies["SEARCH"] = c.search + "%TAG% OK done\r\n";
        serve(mail({"a@b"}), script);
        EXPECT_EQ(imap_check(0), c.count) << c.name;
        EXPECT_EQ(server_->commands()[4], c.command) << c.name;
    }
    EXPECT_FALSE(dir_.exists("err07.log")) << all_files();

    Timing t = timing();
    t.select_timeout_ms = 600000; // only the bound on what the answer may bring can end it
    set_timing(t);
    ImapScript flood;
    flood.fault = ImapFault::flood;
    flood.fault_at = "SEARCH";
    flood.flood_line = "* SEARCH";
    for (int i = 0; i < 1000; ++i) {
        flood.flood_line += " 1";
    }
    serve(mail({"a@b"}), flood);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_EQ(error_lines().back(),
              "check mail ---> The reception of an IMAP confirmation [an unread search command] message is "
              "abnormal[no.0 error: 90]");
}

// A server that keeps talking without ever answering holds a check no longer than one command's deadline, and a
// stop request ends the check at once, with LOGOUT.
TEST_F(ImapCheck, TalkativeServersNeitherOutlastTheDeadlineNorTheStop) {
    ImapScript script;
    script.fault = ImapFault::flood;
    script.fault_at = "SEARCH";
    script.flood_pause_ms = 5;
    Timing t = timing();
    t.select_timeout_ms = 10; // one command may take 61 waits of 10 ms
    t.stop_poll_ms = 10;
    set_timing(t);
    serve(mail({"a@b"}), script);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_EQ(error_lines().back(), "check mail ---> The reception of an IMAP confirmation [an unread search "
                                    "command] message is abnormal[no.0 error: 110]");

    t.select_timeout_ms = 600000; // only the stop can end it now
    t.stop_poll_ms = 200;         // and the LOGOUT's answer is awaited as long: the server reads the LOGOUT meanwhile
    set_timing(t);
    clear_error_log();
    serve(mail({"a@b"}), script);
    settings_set(Key::Request, "4");
    ini_write_key(Key::Request);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_TRUE(wait_until([&] { return server_->commands().back() == "k6 LOGOUT"; }));
    // The flood may leave the LOGOUT unanswered; the search itself is no failure.
    for (const std::string& line : error_lines()) {
        EXPECT_EQ(line.find("[an unread search command]"), std::string::npos) << line;
    }

    // A server that says nothing at all does not keep the stop waiting either.
    script.fault = ImapFault::mute;
    serve(mail({"a@b"}), script);
    EXPECT_EQ(imap_check(0), -1);
    EXPECT_TRUE(wait_until([&] { return server_->commands().back() == "k6 LOGOUT"; }));
    EXPECT_TRUE(check_stop_seen());
    check_stop_clear();
    settings_set(Key::Request, "0");
    ini_write_key(Key::Request);
}

// In IDLE: a flood is a broken connection; the cancel signal ends a wait at once and leaves the connection as it
// was, still in IDLE.
TEST_F(ImapCheck, IdleWaitsEndOnFloodsAndOnTheCancelSignal) {
    ImapScript script;
    script.fault = ImapFault::flood;
    script.fault_at = "IDLE";
    serve(mail({"a@b"}), script);
    ImapSession flooded(read_account(0));
    ASSERT_EQ(flooded.open(), ImapSession::Result::ok);
    ASSERT_EQ(flooded.examine(), ImapSession::Result::ok);
    ASSERT_EQ(flooded.start_idle(), ImapSession::Result::ok);
    EXPECT_EQ(flooded.wait_idle(600000), ImapSession::IdleEvent::gone);
    EXPECT_FALSE(flooded.is_open());
    EXPECT_EQ(error_lines().back(),
              "check mail ---> The IMAP server broke the protocol [an IDLE command][no.0 error: 90]");

    // A slower flood does not stretch a short wait.
    script.flood_pause_ms = 1;
    serve(mail({"a@b"}), script);
    ImapSession trickled(read_account(0));
    ASSERT_EQ(trickled.open(), ImapSession::Result::ok);
    ASSERT_EQ(trickled.examine(), ImapSession::Result::ok);
    ASSERT_EQ(trickled.start_idle(), ImapSession::Result::ok);
    EXPECT_EQ(trickled.wait_idle(50), ImapSession::IdleEvent::nothing);
    trickled.close();

    serve(mail({"a@b"}), ImapScript{});
    CancelSignal cancel;
    ImapSession session(read_account(0));
    session.set_cancel(cancel.fd());
    ASSERT_EQ(session.open(), ImapSession::Result::ok);
    ASSERT_EQ(session.examine(), ImapSession::Result::ok);
    ASSERT_EQ(session.keep_alive(), 0);
    ASSERT_EQ(session.start_idle(), ImapSession::Result::ok);
    std::thread stopper([&] { cancel.raise(); });
    EXPECT_EQ(session.wait_idle(600000), ImapSession::IdleEvent::cancelled);
    stopper.join();
    cancel.clear();
    server_->push("* 2 EXISTS\r\n");
    EXPECT_EQ(session.wait_idle(600000), ImapSession::IdleEvent::change);
    EXPECT_EQ(session.stop_idle(5000), ImapSession::Result::ok);
    EXPECT_EQ(session.logout(), ImapSession::Result::ok);
}

// Loopback of the process's own network namespace up or down; false when it cannot be set.
bool set_loopback(bool up) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool done = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (done) {
        request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
        done = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (fd >= 0) {
        close(fd);
    }
    return done;
}

// A link that goes silent without a word (here: the loopback of a network namespace of its own taken down under
// the connection) is found by TCP keepalive within its probes, not at the IDLE's renewal minutes later. Runs in a
// child process, which owns the namespace; its exit status is the verdict.
TEST_F(ImapCheck, KeepaliveFindsALinkThatWentSilent) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            _exit(2);
        }
        if (!set_loopback(true)) {
            _exit(3);
        }
        Timing t = timing();
        t.keepalive_idle_ms = 1000;
        t.keepalive_interval_ms = 1000;
        t.keepalive_probes = 2;
        set_timing(t);
        ImapMailbox box{"secret", mail({"a@b"})};
        ImapServer server(std::map<std::string, ImapMailbox>{{"alice", box}});
        if (!server.start()) {
            _exit(4);
        }
        set_account(0, server.server_name(), "alice", "secret");
        settings_set(Key::Protocol, "1", 0);
        ImapSession session(read_account(0));
        if (session.open() != ImapSession::Result::ok || session.examine() != ImapSession::Result::ok ||
            session.keep_alive() != 0 || session.start_idle() != ImapSession::Result::ok || !set_loopback(false)) {
            _exit(5);
        }
        // Far beyond the probes: only keepalive ends this wait early.
        const bool found = session.wait_idle(120000) == ImapSession::IdleEvent::gone;
        const bool timed_out = error_lines().back() == "check mail ---> The reception of an IMAP confirmation [an "
                                                       "IDLE command] message is abnormal[no.0 error: 110]";
        _exit(found && timed_out ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not found, 2: no network namespace, 3-5: set-up failed\n" << all_files();
}

// How each check ends, as a value beside its line: the step, the kind and the error number the line gives. Catches
// a refused SEARCH or FETCH told as a refused login (or as nothing, since its result is the 0 of no unseen mail), a
// broken or talkative server told as a refusal, a certificate failure told as TLS, and an outcome whose line is not
// the one written.
TEST_F(ImapCheck, EachEndIsAnOutcomeBesideItsLine) {
    const std::string pki = dir_.path("pki");
    std::filesystem::create_directory(pki);
    const TestAuthority::Issued own = TestAuthority::self_signed(pki, "home", "IP:127.0.0.1");
    auto reply = [](const char* command, const char* text) {
        return [=](ImapScript& s) { s.replies[command] = text; };
    };
    auto fault = [](ImapFault kind, const char* at) {
        return [=](ImapScript& s) {
            s.fault = kind;
            s.fault_at = at;
        };
    };
    struct Case {
        const char* name;
        std::function<void(ImapScript&)> script;
        std::function<void()> account; // after serve()
        int result;
        CheckStep step; // none with a stop: it is seen wherever the first look at the request falls
        CheckFailure failure;
        int error;
    } cases[] = {
        {"worked", {}, {}, 2, CheckStep::none, CheckFailure::none, 0},
        {"greeting BYE",
         [](ImapScript& s) { s.greeting = "* BYE too busy\r\n"; },
         {},
         0,
         CheckStep::greeting,
         CheckFailure::refused,
         0},
        {"AUTHENTICATE NO",
         reply("AUTHENTICATE", "%TAG% NO [AUTHENTICATIONFAILED] no\r\n"),
         {},
         0,
         CheckStep::login,
         CheckFailure::refused_login,
         0},
        {"LOGINDISABLED",
         [](ImapScript& s) { s.capabilities = "IMAP4rev1 LOGINDISABLED"; },
         {},
         0,
         CheckStep::login,
         CheckFailure::refused_login,
         EACCES},
        {"EXAMINE NO",
         reply("EXAMINE", "%TAG% NO [NONEXISTENT] gone\r\n"),
         {},
         0,
         CheckStep::folder,
         CheckFailure::refused,
         0},
        {"SEARCH BAD", reply("SEARCH", "%TAG% BAD what?\r\n"), {}, 0, CheckStep::count, CheckFailure::refused, 0},
        {"FETCH NO in a filtered pass", reply("FETCH", "%TAG% NO later\r\n"), [] { set_filter(0, 0, "a@b", "1"); }, 0,
         CheckStep::headers, CheckFailure::refused, 0},
        {"SEARCH answered with another tag",
         reply("SEARCH", "k99 OK done\r\n"),
         {},
         -1,
         CheckStep::count,
         CheckFailure::protocol_broken,
         EPROTO},
        {"BYE in the middle of SEARCH",
         reply("SEARCH", "* BYE shutting down\r\n"),
         {},
         -1,
         CheckStep::count,
         CheckFailure::unreachable,
         ECONNRESET},
        {"silent greeting",
         fault(ImapFault::mute, "GREETING"),
         {},
         -1,
         CheckStep::greeting,
         CheckFailure::unreachable,
         ETIMEDOUT},
        {"reset at the login",
         fault(ImapFault::reset, "AUTHENTICATE"),
         {},
         -1,
         CheckStep::login,
         CheckFailure::unreachable,
         ECONNRESET},
        {"talk instead of SEARCH's answer",
         fault(ImapFault::flood, "SEARCH"),
         {},
         -1,
         CheckStep::count,
         CheckFailure::unreachable,
         ETIMEDOUT},
        {"endless CAPABILITY line",
         fault(ImapFault::endless_line, "CAPABILITY"),
         {},
         -1,
         CheckStep::greeting,
         CheckFailure::flood,
         EMSGSIZE},
        {"stop while the server talks", fault(ImapFault::flood, "SEARCH"),
         [] {
             settings_set(Key::Request, "4");
             ini_write_key(Key::Request);
         },
         -1, CheckStep::none, CheckFailure::stopped, 0},
        {"folder name not UTF-8",
         {},
         [] { settings_set(Key::Folder, "bad\xff", 0); },
         -1,
         CheckStep::folder,
         CheckFailure::settings,
         EILSEQ},
        {"unknown protocol",
         {},
         [] { settings_set(Key::Protocol, "x", 0); },
         -1,
         CheckStep::settings,
         CheckFailure::settings,
         EINVAL},
        {"STARTTLS not offered",
         {},
         [] { settings_set(Key::Security, "1", 0); },
         -1,
         CheckStep::tls,
         CheckFailure::tls,
         EPROTO},
        {"STARTTLS refused",
         [](ImapScript& s) {
             s.capabilities += " STARTTLS";
             s.replies["STARTTLS"] = "%TAG% NO not today\r\n";
         },
         [] { settings_set(Key::Security, "1", 0); }, -1, CheckStep::tls, CheckFailure::tls, EPROTO},
        {"certificate of no authority, no pin",
         [&](ImapScript& s) {
             s.tls = ImapTls::implicit;
             s.certificate_file = own.certificate_file;
             s.key_file = own.key_file;
         },
         [] { settings_set(Key::Security, "2", 0); }, -1, CheckStep::tls, CheckFailure::certificate, kAnyError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Timing t = timing();
        t.select_timeout_ms = c.failure == CheckFailure::stopped ? 600000
                              : c.failure == CheckFailure::flood ? 5000
                                                                 : 10;
        t.stop_poll_ms = 10;
        set_timing(t);
        clear_error_log();
        ImapScript script;
        if (c.script) {
            c.script(script);
        }
        serve(mail({"a@b", "c@d"}), script);
        if (c.account) {
            c.account();
        }
        CheckOutcome outcome;
        EXPECT_EQ(mail_check(0, &outcome), c.result);
        EXPECT_EQ(outcome_differs(
                      outcome, c.step == CheckStep::none && c.failure == CheckFailure::stopped ? outcome.step : c.step,
                      c.failure, c.error),
                  "")
            << outcome.line;
        server_->stop();
        settings_set(Key::Request, "0");
        ini_write_key(Key::Request);
        check_stop_clear();
        for (Key k : {Key::Folder, Key::Security}) {
            settings_set(k, "", 0);
        }
        set_filter(0, 0, "", "0");
    }
}

} // namespace
