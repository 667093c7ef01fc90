// SPDX-License-Identifier: GPL-3.0-or-later
// Server-name splitting on a hand-edited ServerName: "host", "host:port", "[v6]" and "[v6]:port".

#include "fuzz/fuzz_check.h"
#include "mail/net/server_name.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ServerName name = split_server_name(text);
    FUZZ_CHECK(name.port >= 0 && name.port <= 65535);
    if (name.error != ServerName::Error::none) {
        return 0;
    }
    FUZZ_CHECK(name.port == 0 || !name.host.empty());
    // Written back in its plain form, the name splits the same way again.
    std::string again = name.numeric ? "[" + name.host + "]" : name.host;
    if (name.port != 0) {
        again += ":" + std::to_string(name.port);
    }
    const ServerName second = split_server_name(again);
    FUZZ_CHECK(second.error == ServerName::Error::none);
    FUZZ_CHECK(second.host == name.host && second.port == name.port && second.numeric == name.numeric);
    return 0;
}
