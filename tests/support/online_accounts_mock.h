// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The desktop's online accounts service, played by python3-dbusmock with our template (online_accounts_mock.py)
// on the test's private session bus. It starts with no accounts; the test adds and changes them as the desktop's
// settings would. Ended with the object; a mock that does not come up fails wait_ready(), never skips.
class OnlineAccountsMock {
public:
    explicit OnlineAccountsMock(const std::string& dir);
    ~OnlineAccountsMock();
    OnlineAccountsMock(const OnlineAccountsMock&) = delete;
    OnlineAccountsMock& operator=(const OnlineAccountsMock&) = delete;

    // True once the service answers on the bus, within timeout_ms.
    bool wait_ready(int timeout_ms);
    // The service's output and its log of calls, for a failure's message.
    std::string log() const;

    // An OAuth2 account with mail over IMAP with TLS (ImapUseSsl), as the desktop adds a Google one.
    bool add_mail_account(const std::string& id, const std::string& provider, const std::string& identity,
                          const std::string& imap_host, const std::string& imap_user);
    // An account kd5lite cannot read: kind "password", "mail-off", "no-imap" or "calendar" (the template says).
    bool add_other_account(const std::string& id, const std::string& kind);
    bool set_token(const std::string& id, const std::string& token, int expires_in_s = 3600);
    bool expire_credentials(const std::string& id); // GetAccessToken answers NotAuthorized from now on
    bool delay_token(const std::string& id, double seconds);
    bool remove_account(const std::string& id);

private:
    bool mock_call(const std::string& method, const std::vector<std::string>& args);

    pid_t pid_ = -1;
    std::string dir_;
};
