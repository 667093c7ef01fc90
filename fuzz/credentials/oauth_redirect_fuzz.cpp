// SPDX-License-Identifier: GPL-3.0-or-later
// What anyone on the machine may send to a sign-in's loopback port. Input: the state on the first line, then the
// bytes of the connection. Whatever comes, an answer carries this state's code or a short printable error, and a
// request that has not ended within the bound is never left waiting.

#include "credentials/oauth_redirect.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

bool printable(std::string_view text) {
    for (char c : text) {
        if (c < 0x20 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lf = input.find('\n');
    const std::string_view state = input.substr(0, lf);
    const std::string_view received = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
    const RedirectRequest r = read_redirect_request(received, state);
    switch (r.kind) {
    case RedirectRequest::Kind::code:
        FUZZ_CHECK(!state.empty() && !r.code.empty() && printable(r.code));
        break;
    case RedirectRequest::Kind::error:
        FUZZ_CHECK(!state.empty() && !r.error.empty() && r.error.size() <= kRedirectErrorMax && printable(r.error));
        break;
    case RedirectRequest::Kind::incomplete:
        FUZZ_CHECK(received.size() < kRedirectRequestMax);
        break;
    case RedirectRequest::Kind::ignored:
        break;
    }
    return 0;
}
