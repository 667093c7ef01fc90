// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/check.h"

int run_check(std::FILE* out) {
    CheckReport report(out);
    // Nothing the check runs may reach the log files, or the day markers in the settings file.
    CapturedErrors quiet;
    if (check_settings(report)) {
        check_notifier(report);
        check_lamp(report);
        check_accounts(report);
        check_sound(report);
    }
    std::fprintf(out, "%s\n",
                 report.failed() ? "Monitoring cannot work until each FAIL line is mended."
                                 : "Everything monitoring needs works.");
    return report.failed() ? 1 : 0;
}
