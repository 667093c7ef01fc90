// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/secret.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

// A secret held in memory (a plain password, an access token). Its one buffer is wiped whenever the value changes
// or goes, and is never grown while it holds a value, so that no copy of the secret outlives its use.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string_view text) { assign(text); }
    SecretText(const SecretText& other) { assign(other.view()); }
    SecretText& operator=(const SecretText& other) {
        if (this != &other) {
            assign(other.view());
        }
        return *this;
    }
    ~SecretText() { wipe_secret(text_); }

    void assign(std::string_view text) {
        wipe_secret(text_);
        text_.reserve(text.size()); // grows the emptied buffer, so the old one held nothing when it was freed
        text_.assign(text);
    }
    void clear() { wipe_secret(text_); }

    std::string_view view() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

private:
    std::string text_;
};

// What an account logs in with: the kind says what the secret is.
enum class CredentialKind {
    password, // the account's plain password
    oauth2,   // an OAuth2 access token
};

struct Credential {
    CredentialKind kind = CredentialKind::password;
    SecretText secret;
};
