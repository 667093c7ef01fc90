// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The directory that holds the settings file and the daily logs: $CORVO_HOME when set, else
// $XDG_CONFIG_HOME/corvo, else ~/.config/corvo, the home directory coming from HOME or, when HOME is unset, from
// the password database. No trailing slash. Empty when there is no home directory to put it in.
std::string corvo_dir();

// Whether the directory may hold this user's settings: it is missing (it will be made 0700), or it is a directory
// owned by the user that neither group nor others may write. Anyone else who may write there could swap the
// settings file for a link or a FIFO, or plant a settings file of their own. When refused, errno is EPERM (or the
// error of the look-up) and why, if given, says what is wrong in a sentence for the user.
bool corvo_dir_trusted(std::string* why = nullptr);

// For a program's start: when the directory is not trusted, says so on stderr as "program: why; ..." and returns
// false, and the program ends rather than read or write another user's settings.
bool corvo_dir_check_at_start(const char* program);

// Creates the directory (and missing parents) with mode 0700 when it is missing. Returns false when it cannot or
// when the directory is not trusted (corvo_dir_trusted).
bool corvo_dir_ensure();

// Path of a file in the directory.
std::string corvo_path(const std::string& name);
