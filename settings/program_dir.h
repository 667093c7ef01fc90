// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

// Writes the directory of the running program, ending in '/', into out (cut to size). Empty when unknown.
void get_program_dir(char* out, std::size_t size);
