// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/mailbox_codes.h"

#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/stored_key.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

namespace {

// Leading digits count, as in every numeric key: catches a text compare ("01" is 1) and a value that names no code
// taken for a known one (9 must stay 9, so the notifier's dispatch ignores it).
TEST(MailboxCodes, TextsReadAsTheirLeadingDigits) {
    struct Case {
        const char* text;
        int code;
    } cases[] = {{"", 0},   {"0", 0}, {"1", 1}, {"01", 1},  {"1x", 1},  {" 1", 1},
                 {"x1", 0}, {"2", 2}, {"9", 9}, {"99", 99}, {"-1", -1}, {"104", 104}};
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<int>(request_of(c.text)), c.code) << c.text;
        EXPECT_EQ(static_cast<int>(notifier_state_of(c.text)), c.code) << c.text;
        EXPECT_EQ(job_of(c.text), c.code) << c.text;
    }
}

// The codes the tools and the notifier must agree on, as the file carries them.
TEST(MailboxCodes, WritersPutTheCodesTheOtherProgramsRead) {
    TempCorvo dir;
    struct Case {
        int (*write)();
        Key key;
        const char* stored;
    } cases[] = {
        {[] { return put_request(Request::nothing); }, Key::Request, "0"},
        {[] { return put_request(Request::monitor); }, Key::Request, "1"},
        {[] { return put_request(Request::connection_test); }, Key::Request, "2"},
        {[] { return put_request(Request::stop); }, Key::Request, "4"},
        {[] { return put_request(Request::acknowledge); }, Key::Request, "5"},
        {[] { return put_request(Request::end); }, Key::Request, "99"},
        {[] { return put_state(NotifierState::started); }, Key::State, "0"},
        {[] { return put_state(NotifierState::busy); }, Key::State, "1"},
        {[] { return put_state(NotifierState::idle); }, Key::State, "2"},
        {[] { return put_answer(Answer::busy); }, Key::Answer, "1"},
        {[] { return put_answer(Answer::idle); }, Key::Answer, "0"},
        {[] { return put_job(Request::monitor); }, Key::Job, "101"},
        {[] { return put_job(Request::account_check); }, Key::Job, "103"},
        {[] { return put_job(Request::acknowledge); }, Key::Job, "105"},
        {[] { return put_job(Request::end); }, Key::Job, "199"},
        {put_no_error, Key::Error, "0"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.write(), 0) << c.stored;
        EXPECT_EQ(stored_key(c.key), c.stored);
        EXPECT_EQ(settings_get(c.key), c.stored); // the record holds what the file got
    }
    EXPECT_EQ(mailbox_request(), Request::end);
    EXPECT_EQ(mailbox_state(), NotifierState::idle);
    EXPECT_EQ(mailbox_answer(), Answer::idle);
    EXPECT_EQ(mailbox_job(), 199);
}

TEST(MailboxCodes, OnlyAStopOrAnEndEndsARunningJob) {
    for (int code : {0, 1, 2, 3, 4, 5, 7, 99, 100}) {
        EXPECT_EQ(ends_job(static_cast<Request>(code)), code == 4 || code == 99) << code;
    }
}

} // namespace
