// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier's load and check of a settings file that may have been edited by hand, or hold anything: every
// value is cut to its field, passwords are unscrambled from whatever pairs the file holds, defaults fill the gaps,
// and every field stays terminated within its width. (The save is left out: it writes and syncs the file once per
// key, which would slow the run to a few inputs a second; the text update it uses has its own target.)

#include "fuzz/fuzz_check.h"
#include "settings/keys.h"
#include "settings/settings.h"
#include "settings/settings_bulk.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

void check_fields_terminated() {
    for (int k = 0; k < kKeyCount; ++k) {
        const Key key = static_cast<Key>(k);
        const int accounts = key_group(key) == KeyGroup::Account ? kAccountCount : 1;
        for (int index = 0; index < accounts; ++index) {
            const FieldRef field = key_field(key, index);
            FUZZ_CHECK(std::memchr(field.data, '\0', field.size) != nullptr);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kd5-settings-fuzz.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    setenv("CORVO_HOME", pattern.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream(settings_file_path(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    settings_clear();
    ini_read_all();
    check_fields_terminated();
    ini_check_all();
    check_fields_terminated();
    return 0;
}
