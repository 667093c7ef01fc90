// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP check as a whole (the session's reads, the response reader, the header fetch) against a server whose
// replies are the input, over a real loopback connection; the account's Protocol sends mail_check there. The
// session's tags are k1, k2, ... The first input byte picks the account's settings (see mail_fuzz_env.h).

#include "fuzz/fuzz_check.h"
#include "fuzz/mail_fuzz_env.h"
#include "mail/mail_check.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    ReplayServer& server = mail_fuzz_server();
    settings_set(Key::Protocol, "1");
    // Bit 2: a folder outside ASCII, which goes out in modified UTF-7. Bits 4 and 5: every folder (LIST, STATUS of
    // each, EXAMINE of those with unseen mail), or a list of three, the same one twice.
    settings_set(Key::Folder, (data[0] & 4) != 0 ? "Archiv/受信箱" : "");
    const int folders = (data[0] >> 4) & 3;
    settings_set(Key::Folders, folders == 1 ? "*" : folders == 2 ? "\"INBOX\" \"Lists/Rust\" \"受信箱\"" : "");
    set_mail_fuzz_account(data[0]);
    server.start(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    const int result = mail_check(0);
    std::string logs;
    const std::string sent = mail_fuzz_finish(server, logs);

    FUZZ_CHECK(result >= -1);
    // The password goes to the server in the login and nowhere else; no log line shows it, unless the server
    // itself said it.
    const std::string script(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(logs.find(kMailFuzzPassword) == std::string::npos ||
               script.find(kMailFuzzPassword) != std::string::npos);
    const std::size_t at = sent.find(kMailFuzzPassword);
    FUZZ_CHECK(at == std::string::npos || !mail_fuzz_requires_tls(data[0])); // never in clear
    FUZZ_CHECK(at == std::string::npos || sent.find(kMailFuzzPassword, at + 1) == std::string::npos);
    FUZZ_CHECK(sent.empty() || sent.rfind("k1 ", 0) == 0);
    // Whatever the server says, a check never changes a message's flags: no SELECT, no STORE, no EXPUNGE, and
    // headers only with BODY.PEEK.
    FUZZ_CHECK(sent.find(" SELECT ") == std::string::npos && sent.find(" STORE ") == std::string::npos &&
               sent.find("EXPUNGE") == std::string::npos && sent.find(" BODY[") == std::string::npos &&
               sent.find("(BODY[") == std::string::npos);
    return 0;
}
