// SPDX-License-Identifier: GPL-3.0-or-later
// A hand-edited Folder setting on its way into IMAP commands: its modified UTF-7 form and its argument form.

#include "fuzz/fuzz_check.h"
#include "mail/imap/imap_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    std::string out = "left over";
    const bool ok = mailbox_utf7(name, out);
    FUZZ_CHECK(ok || out.empty());
    if (ok) {
        // Printable ASCII only, every shifted run closed, and "&" never left standing for itself.
        bool shifted = false;
        for (std::size_t i = 0; i < out.size(); ++i) {
            const char c = out[i];
            FUZZ_CHECK(c >= 0x20 && c <= 0x7e);
            if (!shifted && c == '&') {
                shifted = i + 1 < out.size() && out[i + 1] != '-';
                FUZZ_CHECK(i + 1 < out.size());
                if (!shifted) {
                    ++i;
                }
            } else if (shifted && c == '-') {
                shifted = false;
            }
        }
        FUZZ_CHECK(!shifted);
        FUZZ_CHECK(out.size() >= size ||
                   name.find_first_not_of("\x20!\"#$%'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
                                          "abcdefghijklmnopqrstuvwxyz{|}~") != std::string_view::npos);
    }

    const ImapArgument form = imap_argument_form(name);
    if (form == ImapArgument::quoted) {
        std::string quoted;
        imap_append_quoted(quoted, name);
        FUZZ_CHECK(quoted.size() >= size + 2 && quoted.front() == '"' && quoted.back() == '"');
    }
    FUZZ_CHECK(form != ImapArgument::impossible || name.find('\0') != std::string_view::npos);
    return 0;
}
