// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/diagnosis_report.h"

#include <sstream>
#include <vector>

namespace {

std::string cleaned(const std::string& line) {
    std::string out;
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\t' || (byte >= 0x20 && byte != 0x7F)) {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string diagnosis_report(const std::string& output) {
    std::vector<std::string> groups[3]; // FAIL, warn, the rest
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        line = cleaned(line);
        const int group = line.starts_with("FAIL ") ? 0 : line.starts_with("warn ") ? 1 : 2;
        groups[group].push_back(std::move(line));
    }
    std::string report;
    for (const auto& group : groups) {
        for (const std::string& line : group) {
            report += line + "\n";
        }
    }
    return report;
}
