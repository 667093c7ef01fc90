// SPDX-License-Identifier: GPL-3.0-or-later
#include "push/monitor_wake.h"

#include "platform/timing.h"

#include <gtest/gtest.h>

namespace {

// Catches a first notice held back (latency), a stream of notices that brings a pass each (cost), an account lost
// or made up on the way, and notices of an earlier run that reach the next one.
TEST(MonitorWake, FirstNoticeComesAtOnceAndWhatFollowsIsFoldedIntoOneMorePass) {
    const Timing saved = timing();
    Timing t = saved;
    t.push_fold_ms = 2000;
    set_timing(t);
    MonitorWake wake;
    wake.start_run();
    EXPECT_EQ(wake.wait(0), 0u);

    wake.notify(2);
    EXPECT_EQ(wake.wait(60000), 0b100u); // at once, not after the minute

    wake.notify(0);
    wake.notify(0);
    wake.notify(1);
    wake.notify(3); // no such account
    wake.notify(-1);
    EXPECT_EQ(wake.wait(1), 0u);         // held while the fold lasts
    EXPECT_EQ(wake.wait(60000), 0b011u); // then all of them together, once
    EXPECT_EQ(wake.wait(1), 0u);

    wake.notify(1);
    wake.start_run();
    EXPECT_EQ(wake.wait(1), 0u); // a new run starts without the old notices
    set_timing(saved);
}

} // namespace
