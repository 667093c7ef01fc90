// SPDX-License-Identifier: GPL-3.0-or-later
// The pure parts of kd5lite --check's words on the notifier and the login: the provider table, the notifier's
// activity from its command keys, the time of the last pass from its state log.

#include "notifier/check/check_notifier.h"
#include "notifier/check/provider_hints.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProviderHints, KnownDomainsAndTheirServersOnlyGetTheirHint) {
    struct Row {
        const char* host;
        const char* contains; // nullptr: no hint
    };
    const Row rows[] = {
        {"pop.qq.com", "授权码"},
        {"imap.qq.com", "IMAP/POP3"},
        {"IMAP.163.COM", "授权码"},
        {"pop.126.com.", "授权码"}, // a fully qualified name's final dot
        {"imap.gmail.com", "app password"},
        {"outlook.office365.com", "OAuth2"},
        {"imap-mail.outlook.com", "OAuth2"},
        {"qq.com", "授权码"},
        {"notqq.com", nullptr}, // the domain must be a whole label
        {"qq.com.example.org", nullptr},
        {"mail.example.org", nullptr},
        {"127.0.0.1", nullptr},
        {"", nullptr},
    };
    for (const Row& row : rows) {
        const char* hint = provider_hint(row.host);
        if (row.contains == nullptr) {
            EXPECT_EQ(hint, nullptr) << row.host;
        } else {
            ASSERT_NE(hint, nullptr) << row.host;
            EXPECT_NE(std::string(hint).find(row.contains), std::string::npos) << row.host;
        }
    }
}

TEST(NotifierActivity, StateJobAndRequestAsTheServicePagesReadThem) {
    using A = NotifierActivity;
    struct Row {
        int state, job, request;
        A activity;
    };
    const Row rows[] = {
        {0, 101, 0, A::starting},   {1, 101, 1, A::monitoring}, {2, 0, 1, A::monitoring}, // about to start it
        {2, 0, 0, A::idle},         {2, 104, 4, A::idle},       {2, 101, 0, A::idle},       // Job of an ended run
        {1, 102, 2, A::testing},    {1, 103, 3, A::idle},       {3, 101, 1, A::faulty},
        {-1, 101, 1, A::faulty},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(notifier_activity(NotifierState{row.state}, row.job, Request{row.request}), row.activity)
            << row.state << " " << row.job << " " << row.request;
    }
}

TEST(LastPassTime, TheLastMonitorLineOfTheStateLogGivesItsTime) {
    struct Row {
        const char* log;
        const char* time;
    };
    const Row rows[] = {
        {"", ""},
        {"12/07 09:00:01 start\r\n12/07 09:00:01 neutral\r\n", ""},
        {"12/07 09:00:02 Email arrival of the mail monitor --> A start\r\n", "12/07 09:00:02"},
        {"12/07 09:00:02 Email arrival of the mail monitor --> A start\r\n"
         "12/07 09:00:05 Email arrival of the mail confirmation --> Status:  Email arrival of the mail nothing[No.0]\r\n"
         "12/07 09:01:00 connection test(KD-5)\r\n",
         "12/07 09:00:05"},
        {"Email arrival of the mail monitor --> A start\r\n", ""},              // no time before it
        {"12/07 9:00:02X Email arrival of the mail monitor\r\n", ""},          // a spoiled time
        {"12/0", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(last_pass_time(row.log), row.time) << row.log;
    }
}

} // namespace
