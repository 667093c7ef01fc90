// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/secret.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A shorter value that followed a longer one leaves the longer one's tail in the storage: all of it goes.
TEST(Secret, WipingAStringClearsItsWholeStorage) {
    for (std::size_t first : {8u, 40u, 400u}) {
        std::string text(first, 'p');
        text = "short";
        const char* storage = text.data();
        const std::size_t capacity = text.capacity();
        wipe_secret(text);
        EXPECT_TRUE(text.empty());
        for (std::size_t i = 0; i < capacity; ++i) {
            ASSERT_EQ(storage[i], '\0') << first << " at " << i;
        }
    }
}

// Core dumps off, checked in a child so that this test program stays dumpable: not dumpable (which the kernel
// overrides where fs.suid_dumpable is 2), and no room for a core, the hard limit too.
TEST(Secret, CoreDumpsCanBeSwitchedOff) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        switch_core_dumps_off();
        rlimit core{};
        const bool off = prctl(PR_GET_DUMPABLE) == 0 && getrlimit(RLIMIT_CORE, &core) == 0 && core.rlim_cur == 0 &&
                         core.rlim_max == 0;
        _exit(off ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
