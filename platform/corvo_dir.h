#pragma once

#include <string>

// The directory that holds the settings file and the daily logs: $CORVO_HOME when set, else
// $XDG_CONFIG_HOME/corvo, else ~/.config/corvo. No trailing slash.
std::string corvo_dir();

// Creates the directory (and missing parents) with mode 0700 when it is missing. Returns false when it cannot.
bool corvo_dir_ensure();

// Path of a file in the directory.
std::string corvo_path(const std::string& name);
