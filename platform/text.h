// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

// Numeric settings stay texts; this converts one at each use: leading blanks, an optional sign and the digits up
// to the first non-digit. Empty or non-numeric text is 0; values beyond the int range are clamped.
int text_to_int(const char* text);

// Copies src into dst of size bytes, cut so that it fits with its terminator, never in the middle of a UTF-8
// character. Returns the number of bytes copied.
std::size_t fit_text(char* dst, std::size_t size, const char* src);
