// SPDX-License-Identifier: GPL-3.0-or-later
// A domain's autoconfig answer, as an https server of anyone's may send it.

#include "discovery/autoconfig.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Autoconfig config = parse_autoconfig(bytes);
    FUZZ_CHECK(config.ok == config.error.empty());
    FUZZ_CHECK(config.ok || config.incoming.empty());
    FUZZ_CHECK(size <= kAutoconfigLimit || !config.ok);
    FUZZ_CHECK(config.incoming.size() <= kAutoconfigServerLimit);
    for (const AutoconfigServer& s : config.incoming) {
        FUZZ_CHECK(s.port >= 0 && s.port <= 65535);
        FUZZ_CHECK(s.security >= -1 && s.security <= kSecurityTls);
    }
    // What an account takes from it is only ever a host name, a port, a security and a login name of bounded size.
    for (const ServerCandidate& c : autoconfig_candidates(config, "alice@example.org", "example.org", true)) {
        FUZZ_CHECK(!c.host.empty() && host_name(c.host) == c.host);
        FUZZ_CHECK(c.port > 0 && c.port <= 65535);
        FUZZ_CHECK(c.security >= kSecurityClear && c.security <= kSecurityTls);
        FUZZ_CHECK(c.user.size() <= 255 && c.user != "alice@example.org");
        FUZZ_CHECK(c.source == ServerSource::autoconfig && c.source_name == "example.org");
    }
    return 0;
}
