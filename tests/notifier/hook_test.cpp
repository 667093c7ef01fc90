// SPDX-License-Identifier: GPL-3.0-or-later
// The hook command in process, with stand-in scripts: the environment of each event kind, one run at a time per
// kind with the newest change waiting, a hook that hangs ended after its bound and one that floods cut, each with
// its error-log line, and a tick that never waits for a hook.

#include "notifier/hook.h"

#include "platform/timing.h"
#include "settings/settings_access.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

AccountView on(const char* label, int count, bool lit, const char* health) {
    AccountView a;
    a.on = true;
    a.label = label;
    a.count = count;
    a.lit = lit;
    a.health = health;
    return a;
}

ServiceView two_accounts() {
    ServiceView view;
    view.monitoring = true;
    view.accounts[0] = on("taro", 2, true, "watching");
    view.accounts[2] = on("jiro", 0, false, "needs_you");
    return view;
}

std::string joined(const std::vector<std::string>& env) {
    std::string text;
    for (const std::string& e : env) {
        text += e + ";";
    }
    return text;
}

// Catches the account numbered from 0, a lamp event that names one account, and a mail event whose LED still
// reads as before the pass's lamp update.
TEST(HookEnvironment, EachEventKindSaysItsChange) {
    const ServiceView view = two_accounts();
    Announcement mail{2, "jiro", 3, {}};
    const struct {
        const char* what;
        ServiceEvent event;
        const Announcement* mail;
        const char* env;
    } cases[] = {
        {"mail",
         {ServiceEventKind::mail, 2},
         &mail,
         "KD5LITE_EVENT=mail;KD5LITE_ACCOUNT=3;KD5LITE_COUNT=3;KD5LITE_LIT=1;KD5LITE_HEALTH=needs_you;"},
        {"read",
         {ServiceEventKind::read, 0},
         nullptr,
         "KD5LITE_EVENT=read;KD5LITE_ACCOUNT=1;KD5LITE_COUNT=2;KD5LITE_LIT=1;KD5LITE_HEALTH=watching;"},
        {"health",
         {ServiceEventKind::health, 2},
         nullptr,
         "KD5LITE_EVENT=health;KD5LITE_ACCOUNT=3;KD5LITE_COUNT=0;KD5LITE_LIT=0;KD5LITE_HEALTH=needs_you;"},
        {"lamp",
         {ServiceEventKind::lamp, -1},
         nullptr,
         "KD5LITE_EVENT=lamp;KD5LITE_ACCOUNT=;KD5LITE_COUNT=2 0 0;KD5LITE_LIT=1 0 0;"
         "KD5LITE_HEALTH=watching none needs_you;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(joined(hook_environment(c.event, view, c.mail)), c.env) << c.what;
    }
}

class Hook : public ::testing::Test {
protected:
    void SetUp() override {
        tool_write("ErrorLog", "1");
        ini_read_key(Key::ErrorLog);
        Timing t;
        t.hook_ms = 500;
        set_timing(t);
    }
    void TearDown() override {
        EXPECT_TRUE(hook_idle(kPatience));
        set_timing(Timing{});
    }

    // A script of the test's as the hook, with the given body.
    void set_hook(const std::string& name, const std::string& body, const std::string& args = "") {
        dir_.write(name, "#!/bin/sh\n" + body);
        chmod(dir_.path(name).c_str(), 0700);
        settings_set(Key::Hook, (dir_.path(name) + (args.empty() ? "" : " " + args)).c_str());
    }

    std::string error_log() const { return log_text(dir_, "err"); }

    TempCorvo dir_;
};

// The tick hands each event to a hook that records its environment; a change that comes while the hook of its kind
// still runs waits, and of several only the newest runs: catches two of a kind at once and a stale lamp.
TEST_F(Hook, RunsPerEventKindOneAtATimeWithTheNewestChangeWaiting) {
    const std::string record = dir_.path("record");
    set_hook("hook",
             "echo \"$KD5LITE_EVENT $KD5LITE_ACCOUNT $KD5LITE_LIT\" >> \"$1\"\n"
             "[ \"$KD5LITE_EVENT\" = lamp ] && sleep 0.3\nexit 0\n",
             record);
    ServiceView view = two_accounts();
    Announcement mail{0, "taro", 2, {}};
    hook_events({mail}, view, {{ServiceEventKind::lamp, -1}, {ServiceEventKind::health, 2}});
    for (bool red : {false, true, false}) {
        view.accounts[0].lit = red;
        hook_events({}, view, {{ServiceEventKind::lamp, -1}});
    }
    ASSERT_TRUE(hook_idle(kPatience));
    const std::string text = dir_.read("record");
    EXPECT_EQ(count_of(text, "mail 1 1\n"), 1) << text;
    EXPECT_EQ(count_of(text, "health 3 0\n"), 1) << text;
    EXPECT_EQ(count_of(text, "lamp  "), 2) << text; // the first, and the newest of the three that came meanwhile
    EXPECT_TRUE(text.find("lamp  1 0 0\n") < text.find("lamp  0 0 0\n")) << text;
    EXPECT_EQ(error_log(), "");
}

// A hook that hangs holds nothing up: the tick returns at once, the hook is ended after its bound with everything
// it started, and the error log says so; one that prints without end is cut; one that fails says its status and
// its own words; one that is not there cannot be started.
TEST_F(Hook, HangingFloodingFailingAndMissingHooksEachGetTheirLine) {
    const ServiceView view = two_accounts();
    const std::string pids = dir_.path("pids");
    set_hook("sleeper", "sleep 60 &\necho $! >> \"$1\"\nexec sleep 60\n", pids);
    hook_events({}, view, {{ServiceEventKind::lamp, -1}});
    EXPECT_FALSE(hook_idle(0)); // the tick did not wait for it
    ASSERT_TRUE(hook_idle(kPatience));
    EXPECT_NE(error_log().find("hook ---> The hook command did not end in time for the lamp event[error: 62]"),
              std::string::npos)
        << error_log();
    const int left = std::stoi(dir_.read("pids"));
    EXPECT_TRUE(wait_until([&] { return kill(left, 0) != 0; }, kPatience)); // its child went with it

    set_hook("flood", "exec yes\n");
    hook_events({}, view, {{ServiceEventKind::read, 0}});
    ASSERT_TRUE(hook_idle(kPatience));
    EXPECT_NE(error_log().find("hook ---> The hook command printed more than 4 KB for the read event[error: 90]"),
              std::string::npos)
        << error_log();

    set_hook("fails", "echo 'no such lamp' >&2\nexit 3\n");
    hook_events({}, view, {{ServiceEventKind::health, 2}});
    ASSERT_TRUE(hook_idle(kPatience));
    EXPECT_NE(error_log().find("hook ---> The hook command failed for the health event: no such lamp[error: 3]"),
              std::string::npos)
        << error_log();

    settings_set(Key::Hook, dir_.path("missing").c_str());
    hook_events({}, view, {{ServiceEventKind::health, 0}});
    ASSERT_TRUE(hook_idle(kPatience));
    EXPECT_NE(error_log().find("hook ---> The hook command could not be started for the health event[error: 2]"),
              std::string::npos)
        << error_log();

    settings_set(Key::Hook, "   "); // nothing set: nothing runs, nothing is logged
    const std::size_t before = error_log().size();
    hook_events({}, view, {{ServiceEventKind::lamp, -1}});
    EXPECT_TRUE(hook_idle(0));
    EXPECT_EQ(error_log().size(), before);
}

} // namespace
