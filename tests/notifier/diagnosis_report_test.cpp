// SPDX-License-Identifier: GPL-3.0-or-later
// The 诊断… window's text: the report of kd5lite --check, cleaned and with what to mend first.

#include "notifier/diagnosis_report.h"

#include <gtest/gtest.h>

namespace {

// Catches a FAIL line left below the ok lines it explains, lines lost or reordered within a verdict, and a
// server's escape sequence or carriage return reaching the window.
TEST(DiagnosisReport, FailThenWarnThenTheRestEachInOrderCleaned) {
    const struct {
        const char* what;
        std::string output;
        std::string report;
    } rows[] = {
        {"empty", "", ""},
        {"all well", "ok   settings: read\nok   lamp: answers\nEverything monitoring needs works.\n",
         "ok   settings: read\nok   lamp: answers\nEverything monitoring needs works.\n"},
        {"fail and warn first",
         "ok   settings: read\nwarn account 1 (red): no TLS\nok   lamp: answers\nFAIL account 2 (green): refused\n"
         "FAIL account 3 (yellow): no server\nMonitoring cannot work until each FAIL line is mended.\n",
         "FAIL account 2 (green): refused\nFAIL account 3 (yellow): no server\nwarn account 1 (red): no TLS\n"
         "ok   settings: read\nok   lamp: answers\nMonitoring cannot work until each FAIL line is mended.\n"},
        {"control characters", "FAIL account 1 (red): greeting \x1b[31m+OK\r\x07\tx\x7f\n",
         "FAIL account 1 (red): greeting [31m+OK\tx\n"},
        {"last line without its end", "ok   lamp: answers\nwarn sound: none", "warn sound: none\nok   lamp: answers\n"},
        {"a verdict inside a line is not one", "ok   account 1 (red): says FAIL here\n",
         "ok   account 1 (red): says FAIL here\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(diagnosis_report(row.output), row.report) << row.what;
    }
}

} // namespace
