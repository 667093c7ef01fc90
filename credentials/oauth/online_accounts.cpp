// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/online_accounts.h"

#include "platform/secret.h"

// Not built yet: every call answers that no service is there.

OnlineStatus online_mail_accounts(std::vector<OnlineMailAccount>& accounts, int, std::string* error) {
    accounts.clear();
    if (error != nullptr) {
        *error = "no online accounts service";
    }
    return OnlineStatus::no_service;
}

OnlineStatus online_mail_account(const std::string&, OnlineMailAccount& account, int, std::string* error) {
    account = {};
    if (error != nullptr) {
        *error = "no online accounts service";
    }
    return OnlineStatus::no_service;
}

OnlineStatus online_access_token(const std::string&, std::string& token, int& expires_in_s, int,
                                 std::string* error) {
    wipe_secret(token);
    expires_in_s = 0;
    if (error != nullptr) {
        *error = "no online accounts service";
    }
    return OnlineStatus::no_service;
}
