// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 check's whole reply reader against a server whose replies are the input: the greeting, the replies to
// USER, PASS, STAT, UIDL, each TOP and QUIT, in whatever shape and cut wherever, over a real loopback connection. The
// first input byte picks the account's settings (see mail_fuzz_env.h).

#include "fuzz/fuzz_check.h"
#include "fuzz/mail_fuzz_env.h"
#include "mail/mail_check.h"
#include "mail/pop3/known_hits.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    ReplayServer& server = mail_fuzz_server();
    set_mail_fuzz_account(data[0]);
    server.start(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    forget_known_hits(); // each input starts without what an earlier one taught the unique-id memory
    const int result = pop3_check(0);
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
    // The check speaks first with STLS or USER, and only after a greeting.
    FUZZ_CHECK(sent.empty() || sent.rfind(mail_fuzz_requires_tls(data[0]) ? "STLS\r\n" : "USER taro\r\n", 0) == 0);
    return 0;
}
