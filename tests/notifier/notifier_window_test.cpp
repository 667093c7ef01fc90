// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier's hidden window on the offscreen platform: what ends it.

#include "notifier/notifier_dlg.h"

#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// What the desktop's session manager sends when it saves the session, at a checkpoint as at the session's end.
// Qt makes the manager object itself and offers no way to make one; the notifier must not need it, so a stand-in
// that is never touched is handed over.
void commit_data_request() {
    alignas(QSessionManager) static unsigned char stand_in[sizeof(QSessionManager)];
    emit qApp->commitDataRequest(*reinterpret_cast<QSessionManager*>(stand_in));
}

class NotifierWindow : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        Timing t;
        t.poll_ms = 3600000; // the command mailbox stays out of these tests
        t.session_end_ms = 1;
        set_timing(t);
    }
    void TearDown() override { set_timing(Timing{}); }

    TempCorvo dir_;
};

// A checkpoint must leave the notifier running; the session's real end (the session manager then tells the
// application to quit) ends it with exit code 1 and leaves Job as it was, so monitoring resumes at the next login.
TEST_F(NotifierWindow, SessionSaveKeepsItRunningAndTheSessionsEndEndsIt) {
    settings_put(Key::Job, "101");
    EXPECT_EXIT(
        {
            CNotifierDlg dlg;
            commit_data_request();
            QCoreApplication::processEvents();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            CNotifierDlg dlg;
            commit_data_request();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            QCoreApplication::exec();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), "");
    ini_read_key(Key::Job);
    EXPECT_EQ(settings_get(Key::Job), "101");
}

} // namespace
