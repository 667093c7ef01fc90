// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "credentials/secret_store.h"

#include <functional>
#include <string>

class QUrl;

// The option program's 登录… for an account signed in with the browser (OAuthSource 1): the provider's endpoints
// from the account's settings, the sign-in in the browser, and the refresh token kept where the notifier finds it
// (the desktop keyring where one takes it, else the settings file: refresh_token.h). The result in words for the
// page: "已登录 user" or what went wrong. A token that went to the file is kept_in_file, with the keyring's answer:
// the page says so once in a box, as the setup program says it of passwords. open_browser is QDesktopServices::openUrl in the program; a test
// stands in for the browser.
struct SignInResult {
    bool signed_in = false;
    std::string text;
    bool kept_in_file = false; // the token is in the settings file, scrambled: no keyring took it
    SecretResult keyring = SecretResult::ok; // why not, when kept_in_file
    std::string advice; // when set, what the user can do instead, for a box: no client id to sign in with
};
SignInResult account_sign_in(int index, const std::function<void(const QUrl&)>& open_browser, int timeout_ms);

// What a user can do when neither the build nor the account brings a client id for provider (an OAuthProvider
// value): for Gmail an app password or the desktop's online accounts, for Microsoft a client id of their own or
// of whoever built the package, registered as the user guide says.
std::string no_client_id_advice(const std::string& provider);

// What the page says of a sign-in whose token went to the file, with the keyring's answer as the reason.
std::string token_kept_in_file_text(SecretResult keyring);
