// SPDX-License-Identifier: GPL-3.0-or-later
// A hand-edited Folder setting on its way into IMAP commands (its modified UTF-7 form and its argument form), the
// same bytes as a name a server lists (back from modified UTF-7), and as a hand-edited Folders list.

#include "fuzz/fuzz_check.h"
#include "mail/imap/folder_choice.h"
#include "mail/imap/imap_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
        // And back: what the client sends, a server's listing gives back as it was.
        std::string back;
        FUZZ_CHECK(mailbox_from_utf7(out, back) && back == name);
        FUZZ_CHECK(out.size() >= size ||
                   name.find_first_not_of("\x20!\"#$%'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
                                          "abcdefghijklmnopqrstuvwxyz{|}~") != std::string_view::npos);
    }

    // A server's name: decoded it is UTF-8 that encodes back to the same bytes, or refused with nothing kept.
    std::string decoded = "left over";
    if (mailbox_from_utf7(name, decoded)) {
        std::string again;
        FUZZ_CHECK(mailbox_utf7(decoded, again) && again == name);
    } else {
        FUZZ_CHECK(decoded.empty());
    }

    // A Folders key: a sound one is names, none empty, each once, that write back as read; an unsound one is Folder.
    FolderChoice choice;
    if (folder_choice(name, "Work", choice) && choice.kind == FolderChoice::Kind::list) {
        FUZZ_CHECK(!choice.names.empty());
        for (const std::string& n : choice.names) {
            FUZZ_CHECK(!n.empty());
        }
        FolderChoice back;
        FUZZ_CHECK(folder_choice(folders_text(choice.names), "", back) && back.names == choice.names);
    } else if (choice.kind == FolderChoice::Kind::one) {
        FUZZ_CHECK(choice.names == std::vector<std::string>{"Work"});
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
