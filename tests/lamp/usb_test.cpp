// SPDX-License-Identifier: GPL-3.0-or-later
// The transport against the simulator through a real pseudo-terminal.

#include "tests/lamp/lamp_fixture.h"

#include "lamp/protocol.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using UsbTest = LampLinkTest;

int send(const LampCommand& c) {
    return usb_write(c.bytes, kCommandSize);
}

TEST_F(UsbTest, OpensBySerialNumberFromItsSecondCharacterAndExchangesOneCommand) {
    LampSim& sim = start_sim();
    settings_set(Key::SerialNumber, "XA1B2C3D4");
    ASSERT_EQ(usb_open(), 0);
    EXPECT_EQ(send(cmd_on(1)), 0);
    EXPECT_EQ(usb_read(), 'Y');
    EXPECT_EQ(usb_close(), 0);
    EXPECT_EQ(sim.commands(), std::vector<std::string>{"ON1"});
    EXPECT_FALSE(dir_.exists("err07.log"));
}

// Catches a lookup that takes the whole SerialNumber, a prefix or a substring of the serial as a match.
TEST_F(UsbTest, OpenFailsWithoutAnExactSerialMatch) {
    start_sim();
    for (const char* serial_number : {"A1B2C3D4", "XA1B2C3D", "XA1B2C3D45", "X1B2C3D4", "XKD-5lite"}) {
        settings_set(Key::SerialNumber, serial_number);
        EXPECT_EQ(usb_open(), -1) << serial_number;
    }
    std::vector<std::string> expected(5, "USB operation ---> Open abnormality[error: 2]");
    EXPECT_EQ(error_lines(), expected);
}

// An entry whose serial part is empty exists; an empty serial text must still not open it.
TEST_F(UsbTest, OneCharacterOrEmptySerialNumberFailsToOpen) {
    LampSim& sim = start_sim();
    ASSERT_EQ(symlink(sim.link_path().c_str(), (sim.link_dir() + "/usb-x_-if00-port0").c_str()), 0);
    settings_set(Key::SerialNumber, "X");
    EXPECT_EQ(usb_open(), -1);
    settings_set(Key::SerialNumber, "");
    EXPECT_EQ(usb_open(), -1);
    EXPECT_EQ(error_lines(), std::vector<std::string>(2, "USB operation ---> Open abnormality[error: 2]"));
    EXPECT_TRUE(sim.commands().empty());
}

TEST_F(UsbTest, OpenFailsWhenTheSerialDirectoryIsMissing) {
    start_sim();
    setenv("KD5LITE_SERIAL_DIR", dir_.path("nowhere").c_str(), 1);
    EXPECT_EQ(usb_open(), -1);
    EXPECT_EQ(error_lines(), std::vector<std::string>{"USB operation ---> Open abnormality[error: 2]"});
}

TEST_F(UsbTest, LineIsRawAt9600Baud8N1WithoutFlowControl) {
    LampSim& sim = start_sim();
    ASSERT_EQ(usb_open(), 0);
    int fd = open(sim.link_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (CSTOPB | PARENB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 1); // 100 ms
}

// Catches HUPCL left on: every close would drop DTR and RTS, and a lamp powered or reset by those lines would go
// dark after each pass although its LEDs are meant to stay as set.
TEST_F(UsbTest, ClosingTheLinkLeavesTheModemLinesUp) {
    LampSim& sim = start_sim();
    auto hupcl = [&] {
        termios tio{};
        int fd = open(sim.link_path().c_str(), O_RDWR | O_NOCTTY);
        tcgetattr(fd, &tio);
        close(fd);
        return tio.c_cflag & HUPCL;
    };
    {
        // A serial port comes up with HUPCL on; a pseudo-terminal does not, so the test puts it there first.
        int fd = open(sim.link_path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios tio{};
        ASSERT_EQ(tcgetattr(fd, &tio), 0);
        tio.c_cflag |= HUPCL;
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
        close(fd);
        ASSERT_NE(hupcl(), 0u);
    }
    ASSERT_EQ(usb_open(), 0);
    EXPECT_EQ(send(cmd_on(0)), 0);
    EXPECT_EQ(usb_read(), 'Y');
    usb_close();
    EXPECT_EQ(hupcl(), 0u);
}

// Catches a second program (or a second open) driving the lamp at the same time.
TEST_F(UsbTest, TheLampIsTakenExclusivelyWhileOpen) {
    LampSim& sim = start_sim();
    ASSERT_EQ(usb_open(), 0);
    int other = open(sim.link_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    usb_close();
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    // Now the other holder has it: the open fails with its errno.
    EXPECT_EQ(usb_open(), -1);
    close(other);
    EXPECT_EQ(usb_open(), 0);
    EXPECT_EQ(error_lines(), std::vector<std::string>{"USB operation ---> Open abnormality[error: 11]"});
}

// A child started while the lamp is open holds its descriptor, and the lock, until it execs or ends; the next open
// waits for that instead of failing a pass.
TEST_F(UsbTest, AChildStillHoldingTheOldDescriptorDelaysTheNextOpenOnly) {
    start_sim();
    Timing t = timing();
    t.usb_lock_wait_ms = 60000; // far beyond the child's life: the test waits for the child, not for a clock
    set_timing(t);
    ASSERT_EQ(usb_open(), 0);
    pid_t child = fork();
    if (child == 0) {
        pause_ms(50); // holding the inherited descriptor, as a hook does until its exec
        _exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_EQ(usb_open(), 0); // closes ours, then waits for the child's copy to go
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(send(cmd_on(0)), 0);
    EXPECT_EQ(usb_read(), 'Y');
    EXPECT_TRUE(error_lines().empty());
}

// An answer left over from before the open must not be taken for the answer to the first command.
TEST_F(UsbTest, OpenPurgesWhatWasWaiting) {
    LampSim& sim = start_sim();
    int fd = open(sim.link_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    ASSERT_EQ(write(fd, "XYZ\r", 4), 4); // answered with 'N'
    ASSERT_TRUE(wait_until([&] {
        int queued = 0;
        return ioctl(fd, FIONREAD, &queued) == 0 && queued == kReplySize;
    }));
    close(fd);
    ASSERT_EQ(usb_open(), 0);
    EXPECT_EQ(send(cmd_beep()), 0);
    EXPECT_EQ(usb_read(), 'Y');
}

TEST_F(UsbTest, SilentLampCostsTheFullPollThenADataAbnormality) {
    LampSim::Options o;
    o.silent = true;
    LampSim& sim = start_sim(o);
    ASSERT_EQ(usb_open(), 0);
    EXPECT_EQ(send(cmd_clear()), 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(usb_read(), -1);
    double ms = elapsed_ms(t0);
    EXPECT_GE(ms, 100 * kPollMs + 100); // every poll, then the 100 ms read time-out
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(error_lines(), std::vector<std::string>{"USB operation ---> Reading abnormality [data abnormality]"});
    EXPECT_EQ(sim.commands(), std::vector<std::string>{"CLS"});
}

// Catches a judgement that accepts lower case, a blank or a control byte, or that looks past the first byte.
TEST_F(UsbTest, ReplyIsJudgedByItsFirstByteOnly) {
    struct Case {
        const char* reply;
        int result;
        bool abnormality;
    };
    const Case cases[] = {
        {"Y", 'Y', false},  {"N", 'N', false},  {"7", '7', false},  {"-", '-', false}, {"y", -1, true},
        {"0x20", -1, true}, {"0x00", -1, true}, {"0xd9", -1, true}, {"?", -1, true},
    };
    for (const Case& c : cases) {
        LampSim::Options o;
        o.reply = c.reply;
        start_sim(o);
        dir_.write("err07.log", "");
        ASSERT_EQ(usb_open(), 0) << c.reply;
        EXPECT_EQ(send(cmd_on(0)), 0) << c.reply;
        EXPECT_EQ(usb_read(), c.result) << c.reply;
        std::vector<std::string> expected;
        if (c.abnormality) {
            expected.push_back("USB operation ---> Reading abnormality [data abnormality]");
        }
        EXPECT_EQ(error_lines(), expected) << c.reply;
        usb_close();
        sim_.reset();
    }
}

TEST_F(UsbTest, WriteAndReadOnAClosedLinkFailWithTheirMessages) {
    EXPECT_EQ(usb_close(), 0);
    EXPECT_EQ(send(cmd_beep()), -1);
    EXPECT_EQ(usb_read(), -1);
    EXPECT_EQ(usb_close(), 0);
    EXPECT_EQ(error_lines(), (std::vector<std::string>{"USB operation ---> Note abnormality[error: 9]",
                                                       "USB operation ---> Reading abnormality[error: 9]"}));
}

// The lamp pulled out while the link is open: the tty is hung up and both directions fail with EIO.
TEST_F(UsbTest, UnpluggedLampFailsWriteAndReadWithoutCrashing) {
    LampSim& sim = start_sim();
    ASSERT_EQ(usb_open(), 0);
    EXPECT_EQ(send(cmd_on(2)), 0);
    EXPECT_EQ(usb_read(), 'Y');
    sim.kill();
    EXPECT_EQ(send(cmd_on(2)), -1);
    EXPECT_EQ(usb_read(), -1);
    EXPECT_EQ(usb_close(), 0);
    EXPECT_EQ(usb_open(), -1);
    EXPECT_EQ(error_lines(), (std::vector<std::string>{"USB operation ---> Note abnormality[error: 5]",
                                                       "USB operation ---> Reading abnormality[error: 5]",
                                                       "USB operation ---> Open abnormality[error: 2]"}));
}

TEST_F(UsbTest, ModemLinesAreNotTouchedSoAPseudoTerminalServes) {
    // TIOCMBIS on a pseudo-terminal fails with ENOTTY; an open that depended on it would fail here.
    LampSim& sim = start_sim();
    int fd = open(sim.link_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    int bits = TIOCM_DTR;
    EXPECT_EQ(ioctl(fd, TIOCMBIS, &bits), -1);
    EXPECT_EQ(errno, ENOTTY);
    close(fd);
    EXPECT_EQ(usb_open(), 0);
}

} // namespace
