// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The report of kd5lite --check as the tray's 诊断… window shows it: every control character but the line end and
// the tab taken out (the report quotes what servers said), the FAIL lines first, then the warn lines, then the
// rest, each in the order the check gave them.
std::string diagnosis_report(const std::string& output);
