// SPDX-License-Identifier: GPL-3.0-or-later
// The child runner beside what its two users (the token command, the hook) test: the run's environment over the
// program's own, and the groups an end kills, also the one started after it.

#include "platform/child_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Catches an entry added beside the program's own of the same name (which one a program reads is then luck), and
// the program's other entries lost.
TEST(ChildRun, TheRunsEnvironmentReplacesTheProgramsOwnOfTheSameName) {
    setenv("KD5LITE_EVENT", "old", 1);
    setenv("KD5_CHILD_RUN_KEPT", "kept", 1);
    ChildRun run;
    run.argv = {"/bin/sh", "-c", "echo \"$KD5LITE_EVENT $KD5_CHILD_RUN_KEPT\"; env | grep -c '^KD5LITE_EVENT='"};
    run.environment = {"KD5LITE_EVENT=lamp", "KD5LITE_LIT=1 0 0"};
    run.timeout_ms = 20000;
    const ChildResult r = run_child(run);
    EXPECT_EQ(r.end, ChildResult::End::exited);
    EXPECT_EQ(r.output, "lamp kept\n1\n");
    unsetenv("KD5LITE_EVENT");
    unsetenv("KD5_CHILD_RUN_KEPT");
}

TEST(ChildGroups, AnEndKillsEveryGroupAndOneAddedAfterItUntilReopened) {
    ChildGroups groups;
    auto sleeper = [] {
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        setpgid(pid, pid);
        return pid;
    };
    auto killed = [](pid_t pid) {
        int status = 0;
        return waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    };
    const pid_t before = sleeper();
    groups.add(before);
    groups.end_all();
    EXPECT_TRUE(groups.ended());
    EXPECT_TRUE(killed(before));
    const pid_t late = sleeper();
    groups.add(late); // started while the end was under way
    EXPECT_TRUE(killed(late));
    groups.remove(before);
    groups.remove(late);
    groups.reopen();
    EXPECT_FALSE(groups.ended());
    const pid_t after = sleeper();
    groups.add(after);
    EXPECT_EQ(waitpid(after, nullptr, WNOHANG), 0); // lives on
    groups.end_all();
    EXPECT_TRUE(killed(after));
}

} // namespace
