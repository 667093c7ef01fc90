// SPDX-License-Identifier: GPL-3.0-or-later
// The sender and subject of a header block from a server, decoded for a notification.

#include "fuzz/fuzz_check.h"
#include "mail/core/header_text.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = b < 0x80 ? 1 : (b & 0xe0) == 0xc0 ? 2 : (b & 0xf0) == 0xe0 ? 3 : (b & 0xf8) == 0xf0 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view block(reinterpret_cast<const char*>(data), size);
    MessageSummary s = summarize_headers(block);
    FUZZ_CHECK(valid_utf8(s.sender) && valid_utf8(s.subject));
    FUZZ_CHECK(s.sender.size() <= 4 * kSenderChars + 3 && s.subject.size() <= 4 * kSubjectChars + 3);
    for (char c : s.sender + s.subject) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    }
    FUZZ_CHECK(valid_utf8(decode_header_text(block)));
    return 0;
}
