// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

class QUrl;

// The option program's 登录… for an account signed in with the browser (OAuthSource 1): the provider's endpoints
// from the account's settings, the sign-in in the browser, and the refresh token kept where the notifier finds it.
// The result in words for the page: "已登录 user" or what went wrong. open_browser is QDesktopServices::openUrl in
// the program; a test stands in for the browser.
struct SignInResult {
    bool signed_in = false;
    std::string text;
};
SignInResult account_sign_in(int index, const std::function<void(const QUrl&)>& open_browser, int timeout_ms);
