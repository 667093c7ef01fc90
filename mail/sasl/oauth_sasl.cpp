// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/sasl/oauth_sasl.h"

#include "platform/base64_digit.h"
#include "platform/secret.h"

#include <cstdint>

namespace {

constexpr std::size_t kTokenMax = 8192;
constexpr std::size_t kChallengeTextMax = 64;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool is_control(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

// RFC 7628 3.1: "=" and "," in the authorisation identity are written =3D and =2C.
void append_saslname(std::string& out, std::string_view user) {
    for (char c : user) {
        if (c == '=') {
            out += "=3D";
        } else if (c == ',') {
            out += "=2C";
        } else {
            out += c;
        }
    }
}

bool keep_in_log(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == ':' || c == '/';
}

// A minimal reader of one flat JSON object: the string and number members at its top level. Nested values are
// skipped as balanced brackets. Anything that is not such an object fails.
class JsonMembers {
public:
    explicit JsonMembers(std::string_view text) : text_(text) {}

    template <typename Each> bool read(Each each) {
        skip_space();
        if (!take('{')) {
            return false;
        }
        skip_space();
        if (take('}')) {
            return at_end();
        }
        for (;;) {
            std::string name;
            std::string value;
            skip_space();
            if (!string(name)) {
                return false;
            }
            skip_space();
            if (!take(':')) {
                return false;
            }
            skip_space();
            if (peek() == '"') {
                if (!string(value)) {
                    return false;
                }
                each(name, value);
            } else if (!skip_value()) {
                return false;
            }
            skip_space();
            if (take('}')) {
                return at_end();
            }
            if (!take(',')) {
                return false;
            }
        }
    }

private:
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool take(char c) {
        if (peek() != c || at_ >= text_.size()) {
            return false;
        }
        ++at_;
        return true;
    }
    void skip_space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n')) {
            ++at_;
        }
    }
    bool at_end() {
        skip_space();
        return at_ == text_.size();
    }
    // A string; escapes other than \" and \\ are kept as the letter after the backslash, which the log filter
    // then judges like any other byte.
    bool string(std::string& out) {
        if (!take('"')) {
            return false;
        }
        while (at_ < text_.size()) {
            char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (c == '\\') {
                if (at_ >= text_.size()) {
                    return false;
                }
                c = text_[at_++];
            }
            out += c;
        }
        return false;
    }
    // A number, true, false, null, or an array or object skipped as a whole.
    bool skip_value() {
        int depth = 0;
        const std::size_t start = at_;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                std::string ignored;
                if (!string(ignored)) {
                    return false;
                }
                continue;
            }
            if (c == '[' || c == '{') {
                ++depth;
            } else if (c == ']' || c == '}') {
                if (depth == 0) {
                    break;
                }
                --depth;
            } else if (c == ',' && depth == 0) {
                break;
            }
            ++at_;
        }
        return depth == 0 && at_ > start;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::string log_text(const std::string& value) {
    std::string kept;
    for (char c : value) {
        if (kept.size() == kChallengeTextMax) {
            break;
        }
        kept += keep_in_log(c) ? c : '?';
    }
    return kept;
}

} // namespace

const char* oauth_mechanism_name(OAuthMechanism mechanism) {
    switch (mechanism) {
    case OAuthMechanism::oauthbearer:
        return "OAUTHBEARER";
    case OAuthMechanism::xoauth2:
        return "XOAUTH2";
    case OAuthMechanism::none:
        break;
    }
    return "";
}

OAuthMechanism choose_oauth_mechanism(bool offers_oauthbearer, bool offers_xoauth2) {
    if (offers_oauthbearer) {
        return OAuthMechanism::oauthbearer;
    }
    return offers_xoauth2 ? OAuthMechanism::xoauth2 : OAuthMechanism::none;
}

bool oauth_token_usable(std::string_view token) {
    if (token.empty() || token.size() > kTokenMax) {
        return false;
    }
    std::size_t i = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~' || c == '+' || c == '/';
        if (!plain) {
            break;
        }
    }
    if (i == 0) {
        return false;
    }
    for (; i < token.size(); ++i) {
        if (token[i] != '=') {
            return false; // "=" only as trailing padding
        }
    }
    return true;
}

bool oauth_initial_response(OAuthMechanism mechanism, std::string_view user, std::string_view token, std::string& out) {
    wipe_secret(out);
    out.clear();
    if (mechanism == OAuthMechanism::none || !oauth_token_usable(token) || user.size() > 1024) {
        return false;
    }
    for (char c : user) {
        if (is_control(c)) {
            return false;
        }
    }
    std::string message;
    message.reserve(user.size() * 3 + token.size() + 32);
    if (mechanism == OAuthMechanism::oauthbearer) {
        message += "n,a=";
        append_saslname(message, user);
        message += ",\x01";
    } else {
        message.append("user=").append(user).append("\x01");
    }
    message.append("auth=Bearer ").append(token).append("\x01\x01");
    out.reserve(4 * ((message.size() + 2) / 3));
    base64_append(out, message);
    wipe_secret(message);
    return true;
}

std::string oauth_error_answer(OAuthMechanism mechanism) {
    return mechanism == OAuthMechanism::oauthbearer ? "AQ==" : "";
}

OAuthErrorChallenge parse_oauth_error_challenge(std::string_view base64_text) {
    OAuthErrorChallenge result;
    std::string json;
    if (!base64_decode(base64_text, json)) {
        return result;
    }
    std::string status;
    std::string scope;
    result.valid = JsonMembers(json).read([&](const std::string& name, const std::string& value) {
        if (name == "status") {
            status = value;
        } else if (name == "scope") {
            scope = value;
        }
    });
    if (result.valid) {
        result.status = log_text(status);
        result.scope = log_text(scope);
    }
    return result;
}

void base64_append(std::string& out, std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2) {
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += left == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
}

bool base64_decode(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            if (c == '=' && last && k >= 2) {
                ++pad;
                v[k] = 0;
                continue;
            }
            if (pad > 0) {
                return false; // a character after padding
            }
            v[k] = base64_value(c);
            if (v[k] < 0) {
                return false;
            }
        }
        if ((pad == 2 && (v[1] & 0x0f) != 0) || (pad == 1 && (v[2] & 0x03) != 0)) {
            return false; // bits beyond the last byte: not the one canonical form
        }
        const std::uint32_t n = static_cast<std::uint32_t>(v[0]) << 18 | static_cast<std::uint32_t>(v[1]) << 12 |
                                static_cast<std::uint32_t>(v[2]) << 6 | static_cast<std::uint32_t>(v[3]);
        out += static_cast<char>(n >> 16 & 0xff);
        if (pad < 2) {
            out += static_cast<char>(n >> 8 & 0xff);
        }
        if (pad < 1) {
            out += static_cast<char>(n & 0xff);
        }
    }
    return true;
}
