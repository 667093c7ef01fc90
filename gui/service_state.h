// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/mailbox_codes.h"

#include <optional>

// What the tools' service and test pages say to the notifier and show of it, through the command keys of the
// settings file. The pages never wait for the notifier: a request stands in the file until the notifier acts on
// it, and the state shown is the one last read.

// Shown instead of the State key's text when no notifier runs: the key then holds whatever the last notifier left,
// and a stale "停止中" would say that a notifier waits for requests.
inline constexpr char kNotifierNotRunning[] = "通知程序没有运行";

// Said by the tray's tip and the service pages while no account is switched on with a mail ID: a first start
// would otherwise show an idle notifier and nothing that says why it checks nothing.
inline constexpr char kNoAccountYet[] = "尚未设置邮件账户（设定程序的「账户」页）";

// Reads the accounts' Switch and ID keys: whether one is switched on with a mail ID.
bool read_any_account_set();

// Whether mail monitoring runs or stands requested: a notifier runs, and Request is 1 or the monitor is the job at
// work (State 1, Job 101). A connection test then waits for the monitor, which a stop would end.
bool monitoring_runs(const char* request, const char* state, const char* job, bool notifier_running);
// The same, read from the settings file.
bool read_monitoring_runs();

// The text shown for a value of the "State" key, taken as a decimal number (empty or non-numeric counts as 0).
const char* service_state_text(const char* state);

// Reads the State key from the settings file and returns its text, or kNotifierNotRunning.
const char* read_service_state();

// Writes a request to the settings file.
void write_request(Request request);

// Whether the notifier took a request up (none when no request was made): it records each request it acts on in
// Job (job_code).
enum class RequestFate { none, waiting, taken, not_taken };
RequestFate request_fate(std::optional<Request> request, const char* job, bool notifier_running);

// The line a service page shows under its buttons for the fate of the request last pressed ("" for none).
const char* request_fate_text(std::optional<Request> request, RequestFate fate);

// Reads Job from the settings file and whether a notifier runs, and tells the fate of request.
RequestFate read_request_fate(std::optional<Request> request);
