// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

// Plain passwords leave no copies behind: every buffer that held one is wiped with a wipe the compiler may not
// drop as a dead store, and the programs keep their memory out of core dumps.

// Zeroes size bytes at data (explicit_bzero).
void wipe_secret(void* data, std::size_t size);

// Zeroes the whole storage of text (its capacity, not only its size: a shorter value may have followed a longer
// one) and empties it.
void wipe_secret(std::string& text);

// A fixed buffer for a plain password, wiped when it goes.
template <std::size_t N> struct SecretBuffer {
    char text[N] = {};
    SecretBuffer() = default;
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;
    ~SecretBuffer() { wipe_secret(text, N); }
};

// Switches core dumps of this process off (and with them other users' debuggers): a dump would carry the plain
// passwords the process holds. Not dumpable, and a core size limit of 0, the hard limit too. Called first
// thing in main().
void switch_core_dumps_off();
