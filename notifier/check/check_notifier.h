// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/mailbox_codes.h"

#include <string>
#include <string_view>

// What the report says of the notifier itself: whether one runs for this user, whether it monitors mail (the
// State and Job keys, read as the service pages read them) and when it last checked. The lamp lights only while a
// notifier monitors, so everything else working is not yet enough.

// What a notifier's command keys say it is doing.
enum class NotifierActivity {
    starting,   // State 0: it has not run its initialise step yet
    monitoring, // Job 101 while State is 1 (working), or the monitor request standing
    testing,    // the lamp connection test (Job 102)
    idle,       // State 2 without the monitor: started, but never asked to monitor, or stopped
    faulty,     // any other State (故障中 on the service pages)
};

NotifierActivity notifier_activity(NotifierState state, int job, Request request);

// The "MM/DD hh:mm:ss" of the last line of a state log's text that tells of a pass of the mail monitor (its start
// or an account's count); empty when there is none.
std::string last_pass_time(std::string_view state_log);
