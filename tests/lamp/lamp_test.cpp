// SPDX-License-Identifier: GPL-3.0-or-later
// The lamp command set against the simulator through a real pseudo-terminal.

#include "tests/lamp/lamp_fixture.h"

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <thread>

namespace {

using Commands = std::vector<std::string>;

class LampTest : public LampLinkTest {
protected:
    void lit(int red, int green, int yellow) {
        g_lamp.lit[0] = static_cast<unsigned char>(red);
        g_lamp.lit[1] = static_cast<unsigned char>(green);
        g_lamp.lit[2] = static_cast<unsigned char>(yellow);
    }
    void notified(int red, int green, int yellow) {
        g_lamp.notified[0] = static_cast<unsigned char>(red);
        g_lamp.notified[1] = static_cast<unsigned char>(green);
        g_lamp.notified[2] = static_cast<unsigned char>(yellow);
    }
    Commands notified_flags() const {
        Commands out;
        for (unsigned char n : g_lamp.notified) {
            out.push_back(std::to_string(n));
        }
        return out;
    }
};

TEST_F(LampTest, StartClearsAllLedsAndEndCloses) {
    LampSim& sim = start_sim();
    EXPECT_EQ(led_start(), 0);
    EXPECT_EQ(led_end(), 0);
    EXPECT_EQ(sim.commands(), Commands{"CLS"});
    // The link is closed again: the lamp can be taken by somebody else.
    EXPECT_EQ(led_start(), 0);
    EXPECT_EQ(led_end(), 0);
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "CLS"}));
}

TEST_F(LampTest, NothingLitSendsNoOnAndEveryOff) {
    LampSim& sim = start_sim();
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(led_on(), 0);
    EXPECT_EQ(led_off(), 0);
    led_end();
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "OF0", "OF1", "OF2"}));
}

TEST_F(LampTest, OnAndOffFollowTheLitFlagsInLedOrder) {
    LampSim& sim = start_sim();
    lit(1, 0, 1);
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(led_on(), 0);
    EXPECT_EQ(led_off(), 0);
    EXPECT_EQ(led_1beep(), 0);
    EXPECT_EQ(led_alloff(), 0);
    led_end();
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "ON0", "ON2", "OF1", "BEP", "CLS"}));
    EXPECT_TRUE(sim.wait_for_output("leds red=off green=off yellow=off\nleds red=on green=off yellow=off\n"
                                    "leds red=on green=off yellow=on\nbeep\nleds red=off green=off yellow=off\n"));
}

// A lamp that refuses: the first command of each operation fails and nothing after it is sent.
TEST_F(LampTest, AnswerOtherThanYStopsAtTheFirstCommand) {
    LampSim::Options o;
    o.reply = "N";
    LampSim& sim = start_sim(o);
    lit(1, 1, 1);
    EXPECT_EQ(led_start(), -1); // its led_clean was refused; the link stays open
    EXPECT_EQ(led_on(), -1);
    lit(0, 0, 0);
    EXPECT_EQ(led_off(), -1);
    EXPECT_EQ(led_end(), 0);
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "ON0", "OF0"}));
    EXPECT_FALSE(dir_.exists("err07.log")); // a valid character other than 'Y' leaves no line anywhere
}

TEST_F(LampTest, LampFallingSilentMidwayStopsTheSequence) {
    LampSim& sim = start_sim();
    lit(1, 1, 1);
    ASSERT_EQ(led_start(), 0);
    sim.send(SIGUSR2);
    ASSERT_TRUE(sim.wait_for_output("silent on"));
    EXPECT_EQ(led_on(), -1);
    led_end();
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "ON0"}));
    EXPECT_EQ(error_lines(), Commands{"USB operation ---> Reading abnormality [data abnormality]"});
}

TEST_F(LampTest, BeepTimeThreeBeepsThreeTimesForANewlyLitLedAndThenNotAgain) {
    RecordingPlayer player;
    LampSim& sim = start_sim();
    settings_set(Key::BeepTime, "3");
    settings_set(Key::SoundFile, "/sounds/green.wav", 1);
    lit(0, 1, 0);
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(led_beep(), 0);
    EXPECT_EQ(notified_flags(), (Commands{"0", "1", "0"}));
    EXPECT_EQ(led_beep(), 0); // nothing newly lit
    led_end();
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "BEP", "BEP", "BEP"}));
    EXPECT_TRUE(player.played.empty());
}

// BeepTime is read anew before every repetition. A slow lamp leaves time to change it after the first beep.
TEST_F(LampTest, BeepTimeChangedWhileBeepingTakesEffectAtOnce) {
    struct Case {
        const char* before;
        const char* after;
        std::size_t beeps;
    };
    for (const Case& c : {Case{"3", "1", 1}, Case{"1", "3", 3}}) {
        LampSim::Options o;
        o.delay_ms = 200;
        LampSim& sim = start_sim(o);
        settings_set(Key::BeepTime, c.before);
        g_lamp = LampState{};
        lit(1, 0, 0);
        ASSERT_EQ(led_start(), 0);
        std::thread changer([&] {
            sim.wait_for_commands(2); // CLS and the first BEP, whose answer is still 200 ms away
            settings_set(Key::BeepTime, c.after);
        });
        EXPECT_EQ(led_beep(), 0);
        changer.join();
        led_end();
        Commands commands = sim.commands();
        ASSERT_FALSE(commands.empty());
        commands.erase(commands.begin());
        EXPECT_EQ(commands, Commands(c.beeps, "BEP")) << c.before << " -> " << c.after;
        sim_.reset();
        std::remove(dir_.path("lampsim.log").c_str());
    }
}

TEST_F(LampTest, FailedBeepLeavesTheNotifiedFlagsSoTheMailIsAnnouncedAgain) {
    LampSim::Options o;
    o.reply = "N";
    LampSim& sim = start_sim(o);
    settings_set(Key::BeepTime, "2");
    lit(1, 0, 1);
    led_start();
    EXPECT_EQ(led_beep(), -1);
    led_end();
    EXPECT_EQ(notified_flags(), (Commands{"0", "0", "0"}));
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "BEP"}));
}

// BeepTime 0: the lamp stays silent; each newly lit account's file is started and a pause follows every newly lit
// LED, whether it has a file or not.
TEST_F(LampTest, BeepTimeZeroPlaysTheSoundFilesWithAPauseEach) {
    RecordingPlayer player;
    LampSim& sim = start_sim();
    settings_set(Key::BeepTime, "0");
    settings_set(Key::SoundFile, "/sounds/yellow.wav", 2);
    lit(1, 1, 1);
    notified(0, 1, 0); // green was announced already
    ASSERT_EQ(led_start(), 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(led_beep(), 0);
    double ms = elapsed_ms(t0);
    led_end();
    EXPECT_EQ(player.played, Commands{"/sounds/yellow.wav"});
    ASSERT_EQ(player.at.size(), 1u);
    double played_after_ms = std::chrono::duration<double, std::milli>(player.at[0] - t0).count();
    EXPECT_GE(played_after_ms, kSoundPauseMs); // after red's pause
    EXPECT_GE(ms, 2 * kSoundPauseMs);
    EXPECT_LT(ms, 3 * kSoundPauseMs + 1000);
    EXPECT_EQ(notified_flags(), (Commands{"1", "1", "1"}));
    EXPECT_EQ(sim.commands(), Commands{"CLS"});
}

// Values that count as 0 or less take the sound-file path too.
TEST_F(LampTest, BeepTimeEmptyOrNegativeCountsAsNoBuzzer) {
    RecordingPlayer player;
    LampSim& sim = start_sim();
    settings_set(Key::SoundFile, "/sounds/red.wav", 0);
    for (const char* beep_time : {"", "-2", "x5"}) {
        settings_set(Key::BeepTime, beep_time);
        g_lamp = LampState{};
        lit(1, 0, 0);
        ASSERT_EQ(led_start(), 0);
        EXPECT_EQ(led_beep(), 0) << beep_time;
        led_end();
    }
    EXPECT_EQ(player.played, Commands(3, "/sounds/red.wav"));
    EXPECT_EQ(sim.commands(), Commands(3, "CLS"));
}

TEST_F(LampTest, UnpluggedLampFailsStartAndSendsNothing) {
    LampSim& sim = start_sim();
    sim.stop();
    EXPECT_EQ(led_start(), -1);
    EXPECT_EQ(led_end(), 0);
    EXPECT_TRUE(sim.commands().empty());
    EXPECT_EQ(error_lines(), Commands{"USB operation ---> Open abnormality[error: 2]"});
}

// The lamp disappears between two commands of a sequence; the next sequence fails cleanly, and once the lamp is
// back the one after works again.
TEST_F(LampTest, LampDisappearingBetweenCommandsRecoversWhenItComesBack) {
    LampSim& sim = start_sim();
    lit(0, 1, 0);
    ASSERT_EQ(led_start(), 0);
    sim.kill();
    EXPECT_EQ(led_on(), -1);
    EXPECT_EQ(led_end(), 0);
    EXPECT_EQ(led_start(), -1);
    EXPECT_EQ(led_end(), 0);
    ASSERT_TRUE(sim.start());
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(led_on(), 0);
    led_end();
    EXPECT_EQ(error_lines(), (Commands{"USB operation ---> Note abnormality[error: 5]",
                                       "USB operation ---> Open abnormality[error: 2]"}));
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "CLS", "ON1"}));
}

// The same through the simulator's own unplug and plug-in (SIGUSR1), which the demo uses.
TEST_F(LampTest, LampUnpluggedAndPluggedInAgainWhileRunning) {
    LampSim& sim = start_sim();
    lit(1, 0, 0);
    ASSERT_EQ(led_start(), 0);
    sim.send(SIGUSR1);
    ASSERT_TRUE(sim.wait_for_output("unplugged"));
    EXPECT_EQ(led_on(), -1);
    led_end();
    EXPECT_EQ(led_start(), -1);
    sim.send(SIGUSR1);
    struct stat st {};
    ASSERT_TRUE(wait_until([&] { return stat(sim.link_path().c_str(), &st) == 0; }));
    ASSERT_EQ(led_start(), 0);
    EXPECT_EQ(led_on(), 0);
    led_end();
    EXPECT_EQ(sim.commands(), (Commands{"CLS", "CLS", "ON0"}));
}

// The blink's one command: the LED asked for alone, no CLS before it (the others keep what they show), the link
// closed after it; a lamp that is away or does not acknowledge fails it.
TEST_F(LampTest, SetSwitchesOneLedAloneAndClosesTheLink) {
    LampSim& sim = start_sim();
    EXPECT_EQ(led_set(2, true), 0);
    EXPECT_EQ(led_set(2, false), 0);
    EXPECT_EQ(led_set(3, true), -1);
    EXPECT_EQ(led_set(-1, false), -1);
    EXPECT_EQ(sim.commands(), (Commands{"ON2", "OF2"}));
    ASSERT_EQ(led_start(), 0); // the link was closed: it opens again
    led_end();
    sim.stop();
    EXPECT_EQ(led_set(0, true), -1);
    LampSim::Options refusing;
    refusing.reply = "N";
    LampSim& refuses = start_sim(refusing); // the same command log, which the first lamp left with four
    EXPECT_EQ(led_set(0, true), -1);
    EXPECT_EQ(refuses.commands(), (Commands{"ON2", "OF2", "CLS", "ON0"}));
}

} // namespace
