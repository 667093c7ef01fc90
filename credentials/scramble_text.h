// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The stored form of a password: byte i goes to the two characters at slot P[i], high four bits first, each as
// 0x30 plus the nibble; the position list is P written as two decimal digits per entry.

// Longest password kept: its scrambled form (64 characters) and its position list (64 digits) fill their fields.
inline constexpr std::size_t kPasswordMax = 32;

std::string scramble_text(std::string_view password, const std::vector<int>& positions);
std::string position_list(const std::vector<int>& positions);

// The plain password, or nothing when the pair cannot be read: a position list of odd length, with a non-digit,
// with a position repeated or not below its entry count, or naming a slot beyond the scrambled form.
std::optional<std::string> unscramble_text(std::string_view scrambled, std::string_view list);

// unscramble_text into out, a fixed buffer of size bytes (terminated; a longer password is cut): the length of the
// plain password, or -1 when the pair cannot be read (out is then empty).
int unscramble_into(std::string_view scrambled, std::string_view list, char* out, std::size_t size);

// A random permutation of 0 .. n-1.
std::vector<int> shuffled_positions(std::size_t n);
