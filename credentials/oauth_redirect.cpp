// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth_redirect.h"

#include "platform/hex_digit.h"

#include <optional>

namespace {

using Kind = RedirectRequest::Kind;

// RFC 6749 appendix A: a code and an error are printable ASCII (VSCHAR and NQSCHAR).
bool printable(std::string_view text) {
    for (char c : text) {
        if (c < 0x20 || c > 0x7e) {
            return false;
        }
    }
    return true;
}

// The query's parameters this sign-in reads; each at most once (RFC 6749 3.1: "MUST NOT be included more than
// once"). False for a query that breaks either rule.
struct Parameters {
    std::optional<std::string> code;
    std::optional<std::string> state;
    std::optional<std::string> error;
};

bool read_query(std::string_view query, Parameters& p) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        std::string name;
        std::string value;
        if (!form_decode(pair.substr(0, eq), name) ||
            !form_decode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), value)) {
            return false;
        }
        std::optional<std::string>* slot = name == "code"    ? &p.code
                                           : name == "state" ? &p.state
                                           : name == "error" ? &p.error
                                                             : nullptr;
        if (slot != nullptr) {
            if (slot->has_value()) {
                return false;
            }
            *slot = std::move(value);
        }
    }
    return true;
}

} // namespace

bool form_decode(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else if (i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

RedirectRequest read_redirect_request(std::string_view received, std::string_view state) {
    RedirectRequest r;
    std::size_t head_end = received.find("\r\n\r\n");
    if (head_end == std::string_view::npos) {
        head_end = received.find("\n\n");
    }
    if (head_end == std::string_view::npos || head_end > kRedirectRequestMax) {
        r.kind = received.size() >= kRedirectRequestMax ? Kind::ignored : Kind::incomplete;
        return r;
    }
    r.kind = Kind::ignored;
    // "GET /?code=...&state=... HTTP/1.1": the redirect_uri's path is "/"; the browser's other requests
    // (/favicon.ico) are not the answer.
    std::string_view line = received.substr(0, received.find('\n'));
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.substr(0, sp1) != "GET" || !line.substr(sp2 + 1).starts_with("HTTP/")) {
        return r;
    }
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    target = target.substr(0, target.find('#'));
    const std::size_t question = target.find('?');
    Parameters p;
    if (target.substr(0, question) != "/" || question == std::string_view::npos ||
        !read_query(target.substr(question + 1), p)) {
        return r;
    }
    if (state.empty() || !p.state || *p.state != state) {
        return r;
    }
    if (p.error) {
        if (!printable(*p.error) || p.error->empty()) {
            return r;
        }
        r.kind = Kind::error;
        r.error = p.error->substr(0, kRedirectErrorMax);
    } else if (p.code && !p.code->empty() && printable(*p.code)) {
        r.kind = Kind::code;
        r.code = std::move(*p.code);
    }
    return r;
}
