// SPDX-License-Identifier: GPL-3.0-or-later
// The tray's 诊断… window on the offscreen platform: the real kd5lite --check as its child, and scripts that stand
// in for a check that hangs.

#include "notifier/diagnosis_window.h"

#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kPatienceMs = 60000;

class Diagnosis : public ::testing::Test {
protected:
    void TearDown() override { set_timing(Timing{}); }

    std::string script(const std::string& name, const std::string& body) {
        const std::string path = dir_.path(name);
        std::ofstream(path) << "#!/bin/sh\n" << body;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }
    static QString report(DiagnosisWindow& w) {
        return w.findChild<QPlainTextEdit*>(QStringLiteral("report"))->toPlainText();
    }
    static QString status(DiagnosisWindow& w) { return w.findChild<QLabel*>(QStringLiteral("status"))->text(); }
    // Whether the process whose id the script wrote is still there.
    bool child_alive() {
        std::ifstream in(dir_.path("pid"));
        pid_t pid = 0;
        return (in >> pid) && pid > 0 && kill(pid, 0) == 0;
    }

    TempCorvo dir_;
};

// The real check on settings with an account switched on but not filled in: its report comes back with what to
// mend first, and the window shows the text of a report (which quotes servers) as text, never as markup.
TEST_F(Diagnosis, RunsTheRealCheckAndShowsItsFailLinesFirst) {
    settings_put(Key::Switch, "1", 0);
    DiagnosisWindow window(QString::fromUtf8(KD5LITE_BINARY), {QStringLiteral("--check")});
    window.run();
    QTRY_VERIFY_WITH_TIMEOUT(!window.running(), kPatienceMs);
    const QString text = report(window);
    EXPECT_TRUE(text.startsWith(QStringLiteral("FAIL "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("FAIL account 1 (red): "))) << text.toStdString();
    EXPECT_LT(text.indexOf(QStringLiteral("FAIL account 1")), text.indexOf(QStringLiteral("ok   ")))
        << text.toStdString();
    EXPECT_EQ(status(window), QStringLiteral("诊断结束：请处理 FAIL 行"));

    DiagnosisWindow markup(QStringLiteral("/bin/sh"),
                           {QStringLiteral("-c"), QStringLiteral("printf 'ok   a: <b>bold</b> &amp;\\n'")});
    markup.run();
    QTRY_VERIFY_WITH_TIMEOUT(!markup.running(), kPatienceMs);
    EXPECT_EQ(report(markup), QStringLiteral("ok   a: <b>bold</b> &amp;\n"));
    EXPECT_EQ(status(markup), QStringLiteral("诊断结束：一切正常"));
}

// A check that hangs is ended at the bound with what it said so far; one that is running when the window closes
// (or the notifier ends, which calls stop) is ended at once. Neither leaves its process behind.
TEST_F(Diagnosis, AHangingCheckIsEndedAtTheBoundAndWhenTheWindowCloses) {
    const std::string hangs =
        script("hangs", "echo $$ > \"" + dir_.path("pid") + "\"\necho 'FAIL lamp: gone'\nexec sleep 600\n");
    Timing t;
    t.diagnosis_ms = 500;
    set_timing(t);
    DiagnosisWindow window(QString::fromStdString(hangs), {});
    window.run();
    QTRY_COMPARE_WITH_TIMEOUT(status(window), QStringLiteral("诊断超时，已中止"), kPatienceMs);
    EXPECT_FALSE(window.running());
    EXPECT_EQ(report(window), QStringLiteral("FAIL lamp: gone\n"));
    EXPECT_FALSE(child_alive());

    std::filesystem::remove(dir_.path("pid"));
    set_timing(Timing{});
    window.run();
    QTRY_VERIFY_WITH_TIMEOUT(child_alive(), kPatienceMs);
    window.close();
    EXPECT_FALSE(window.running());
    EXPECT_FALSE(child_alive());
    EXPECT_EQ(status(window), QStringLiteral("诊断已中止"));
}

TEST_F(Diagnosis, AProgramThatCannotStartSaysSo) {
    DiagnosisWindow window(QString::fromStdString(dir_.path("missing")), {});
    window.run();
    QTRY_VERIFY_WITH_TIMEOUT(status(window).startsWith(QStringLiteral("诊断程序无法启动：")), kPatienceMs);
    EXPECT_FALSE(window.running());
}

} // namespace
