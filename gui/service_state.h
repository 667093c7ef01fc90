#pragma once

// What the tools' service and test pages say to the notifier and show of it, through the command keys of the
// settings file. The pages never wait for the notifier: a request stands in the file until the notifier acts on
// it, and the state shown is the one last read.

// Requests ("Request" key).
inline constexpr char kRequestMonitor[] = "1"; // monitor mail
inline constexpr char kRequestTest[] = "2";    // lamp connection test
inline constexpr char kRequestStop[] = "4";    // stop monitoring or the test

// The text shown for a value of the "State" key, taken as a decimal number (empty or non-numeric counts as 0).
const char* service_state_text(const char* state);

// Reads the State key from the settings file and returns its text.
const char* read_service_state();

// Writes a request to the settings file.
void write_request(const char* request);
