#include "platform/timing.h"

#include <gtest/gtest.h>

TEST(Timing, ScalingShortensDurationsButKeepsCounts) {
    Timing t = scaled_timing(0.01);
    EXPECT_EQ(t.poll_ms, 2);
    EXPECT_EQ(t.sound_pause_ms, 100);
    EXPECT_EQ(t.usb_poll_ms, 1); // never below 1 ms
    EXPECT_EQ(t.usb_poll_count, 100);
    EXPECT_EQ(t.recv_attempts, 60);
    EXPECT_EQ(t.monitor_steps_per_min, 60);
}
