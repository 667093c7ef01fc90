// SPDX-License-Identifier: GPL-3.0-or-later
// Server text on its way into an error-log line: whatever the bytes, the result stays on one line, is valid UTF-8
// and holds nothing that reorders or hides the text around it.

#include "fuzz/fuzz_check.h"
#include "logging/log_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The code points of valid UTF-8, or -1 at the first invalid sequence (a plain decoder to check against).
long decode(std::string_view s, std::size_t& pos) {
    const unsigned char lead = static_cast<unsigned char>(s[pos]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xf0 && lead <= 0xf4 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc2 ? 1 : -1;
    if (extra < 0 || lead > 0xf4 || s.size() - pos <= static_cast<std::size_t>(extra)) {
        return -1;
    }
    long cp = extra == 0 ? lead : lead & (0x3f >> extra);
    for (int i = 1; i <= extra; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(i)]);
        if ((c & 0xc0) != 0x80) {
            return -1;
        }
        cp = (cp << 6) | (c & 0x3f);
    }
    static const long kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        return -1;
    }
    pos += static_cast<std::size_t>(extra) + 1;
    return cp;
}

bool hidden(long cp) {
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202a && cp <= 0x202e) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string safe = log_safe_text(bytes);
    for (std::size_t pos = 0; pos < safe.size();) {
        const long cp = decode(safe, pos);
        FUZZ_CHECK(cp >= 0);
        FUZZ_CHECK(!hidden(cp));
    }
    // Plain printable ASCII without a backslash comes through as it is.
    if (bytes.find_first_not_of(" !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstu"
                                "vwxyz{|}~") == std::string_view::npos) {
        FUZZ_CHECK(safe == bytes);
    }
    return 0;
}
