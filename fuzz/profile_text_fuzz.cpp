// SPDX-License-Identifier: GPL-3.0-or-later
// The INI text find and update on whatever a settings file may hold: binary bytes, lone CRs, duplicate sections
// and keys, endless lines. The input is the file's text; the names are the system's own.

#include "fuzz/fuzz_check.h"
#include "platform/profile_text.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

namespace {

struct Name {
    const char* section;
    const char* key;
};

// Two keys of one section and one of another, so that an update can be seen to leave its neighbours alone.
constexpr Name kNames[] = {
    {"corvo\\KD-5lite", "Request"},
    {"corvo\\KD-5lite", "State"},
    {"corvo\\KD-5lite\\user00", "Password"},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::optional<std::string> before[std::size(kNames)];
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        before[i] = profile_find(text, kNames[i].section, kNames[i].key);
    }
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        const std::string updated = profile_update(text, kNames[i].section, kNames[i].key, "4");
        // What was written is what is read back, and writing it again changes nothing.
        FUZZ_CHECK(profile_find(updated, kNames[i].section, kNames[i].key) == "4");
        FUZZ_CHECK(profile_update(updated, kNames[i].section, kNames[i].key, "4") == updated);
        for (std::size_t j = 0; j < std::size(kNames); ++j) {
            if (j != i) {
                FUZZ_CHECK(profile_find(updated, kNames[j].section, kNames[j].key) == before[j]);
            }
        }
    }
    return 0;
}
