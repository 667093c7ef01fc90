// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/timing.h"

#include <gtest/gtest.h>

TEST(Timing, ScalingShortensDurationsButKeepsCounts) {
    Timing t = scaled_timing(0.01);
    EXPECT_EQ(t.poll_ms, 2);
    EXPECT_EQ(t.sound_pause_ms, 100);
    EXPECT_EQ(t.usb_read_timeout_ms, 1); // never below 1 ms
    EXPECT_EQ(t.usb_poll_ms, 15);        // the wait for the lamp's answer ends when it comes, at any scale
    EXPECT_EQ(t.usb_poll_count, 100);
    EXPECT_EQ(t.recv_attempts, 60);
    EXPECT_EQ(t.monitor_steps_per_min, 60);
    // The push's renewal and backoff shrink with the rest, or a test would wait out nine real minutes; the clock
    // jump that means a suspend stays real, and so does the count of keepalive probes.
    EXPECT_EQ(t.idle_renew_ms, 5400);
    EXPECT_EQ(t.idle_backoff_max_ms, 3000);
    EXPECT_EQ(t.idle_settled_ms, 600);
    EXPECT_EQ(t.clock_jump_ms, 3000);
    EXPECT_EQ(t.keepalive_probes, 3);
    // The diagnosis' bound of an account shrinks too, its greeting wait within it.
    EXPECT_EQ(t.check_account_ms, 150);
    EXPECT_EQ(t.check_greeting_ms, 100);
}
