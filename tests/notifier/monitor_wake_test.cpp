// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/monitor_wake.h"

#include "platform/timing.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

class MonitorWakeTest : public ::testing::Test {
protected:
    MonitorWakeTest() {
        Timing t = saved_;
        t.push_fold_ms = 60000; // a window no test outlasts: a held notice is seen to be held
        set_timing(t);
        wake_.start_run();
    }
    ~MonitorWakeTest() override { set_timing(saved_); }

    Timing saved_ = timing();
    MonitorWake wake_;
};

// Catches a notice held back after a pass (a read elsewhere, then new mail: the second waited for the end of a
// window), an account lost or made up on the way, and notices of an earlier run that reach the next one.
TEST_F(MonitorWakeTest, EveryNoticeComesAtOnceAndThoseOfAPassAreFoldedIntoOne) {
    EXPECT_EQ(wake_.wait(0), 0u);
    wake_.notify(2);
    EXPECT_EQ(wake_.wait(60000), 0b100u); // at once, not after the minute

    // Notices that came while the pass ran come together at the next wait, at once.
    wake_.notify(0);
    wake_.notify(0);
    wake_.notify(1);
    wake_.notify(3); // no such account
    wake_.notify(-1);
    const Clock::time_point before = Clock::now();
    EXPECT_EQ(wake_.wait(60000), 0b011u);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(30));
    EXPECT_EQ(wake_.wait(1), 0u);

    wake_.notify(1);
    wake_.start_run();
    EXPECT_EQ(wake_.wait(1), 0u); // a new run starts without the old notices
}

// A server that floods the watcher with changes brings no more than kFloodPasses passes per window: the notices
// after them wait for the window's end and come as one.
TEST_F(MonitorWakeTest, AFloodIsHeldToTheEndOfItsWindow) {
    for (int pass = 0; pass < MonitorWake::kFloodPasses; ++pass) {
        wake_.notify(0);
        EXPECT_EQ(wake_.wait(60000), 1u) << pass;
    }
    wake_.notify(0);
    wake_.notify(1);
    EXPECT_EQ(wake_.wait(50), 0u); // held
    Timing t = timing();
    t.push_fold_ms = 1; // the window is over
    set_timing(t);
    wake_.start_run();
    wake_.notify(1);
    EXPECT_EQ(wake_.wait(60000), 0b10u);
}

// The window thread's tick ends the monitor's wait for a stop or an end request without a notice, and a notice
// that came with it is not lost.
TEST_F(MonitorWakeTest, ARequestEndsTheWaitAtOnce) {
    wake_.wake_for_request();
    const Clock::time_point before = Clock::now();
    EXPECT_EQ(wake_.wait(60000), 0u);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(30));
    wake_.notify(2);
    wake_.wake_for_request();
    EXPECT_EQ(wake_.wait(60000), 0b100u);
    EXPECT_EQ(wake_.wait(1), 0u);
}

} // namespace
