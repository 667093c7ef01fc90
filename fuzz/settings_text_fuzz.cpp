// SPDX-License-Identifier: GPL-3.0-or-later
// The conversions every hand-edited settings value goes through: its number (leading digits) and its cut into
// a fixed field, never inside a UTF-8 character.

#include "fuzz/fuzz_check.h"
#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const char* text = value.c_str();
    text_to_int(text);

    const std::size_t length = std::strlen(text);
    for (std::size_t field : {std::size_t{1}, std::size_t{2}, std::size_t{9}, std::size_t{65}, std::size_t{257}}) {
        std::string into(field + 8, '\x7f'); // guard bytes after the field
        const std::size_t copied = fit_text(into.data(), field, text);
        FUZZ_CHECK(copied < field && copied <= length);
        FUZZ_CHECK(std::memcmp(into.data(), text, copied) == 0 && into[copied] == '\0');
        FUZZ_CHECK(into.compare(field, 8, std::string(8, '\x7f')) == 0);
        // A cut leaves whole characters: the byte after the cut does not continue one. (A value that begins with
        // a stray continuation byte may only be cut to nothing.)
        FUZZ_CHECK(copied == length || copied == 0 || !continuation(static_cast<unsigned char>(text[copied])));
    }
    return 0;
}
