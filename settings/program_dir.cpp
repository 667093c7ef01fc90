// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/program_dir.h"

#include "platform/text.h"

#include <string>
#include <unistd.h>

void get_program_dir(char* out, std::size_t size) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string dir;
    if (n > 0) {
        dir.assign(path, static_cast<std::size_t>(n));
        dir.erase(dir.find_last_of('/') + 1);
    }
    fit_text(out, size, dir.c_str());
}
