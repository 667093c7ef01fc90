// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <sys/types.h>

// The test OAuth2 provider (tools/oauth2provider) for one test, on a loopback port it chose itself: authorize,
// token, introspection, and the calls a test makes in the provider's place (issue a pair without the browser,
// revoke, count). Ended with the object; a provider that does not start is an error of start(), never a skip.
class OAuth2Provider {
public:
    struct Tokens {
        std::string access_token;
        std::string refresh_token;
        long expires_in = 0;
    };

    OAuth2Provider() = default;
    ~OAuth2Provider();
    OAuth2Provider(const OAuth2Provider&) = delete;
    OAuth2Provider& operator=(const OAuth2Provider&) = delete;

    // Starts the provider; access tokens live lifetime_s seconds. False, with the reason in error(), otherwise.
    bool start(double lifetime_s = 5.0, const std::string& user = "alice");
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const; // "http://127.0.0.1:port/path"
    const std::string& error() const { return error_; }

    Tokens issue(const std::string& user);
    bool revoke(const std::string& user);
    // POST /admin/mode: "rotate=1" (rotation with reuse detection), "fault=redirect&target=URL", "fault=huge",
    // "fault=trickle", "fault=no-expiry", "fault=none".
    bool set_mode(const std::string& form);
    // The counts of /admin/stats: authorization_code, refresh_token, refused, introspect, inactive.
    std::map<std::string, long> stats();

    // One HTTP request to the provider; the response body, or "" on failure. *status gets the status code.
    std::string request(const std::string& method, const std::string& path, const std::string& form = "",
                        int* status = nullptr, std::string* headers = nullptr) const;

    // A GET of an http URL on loopback, as a browser follows a redirect; the status code, 0 when none came. body and
    // headers, when given, get the page the browser would show and the response's header lines.
    static int get_url(const std::string& url, std::string* body = nullptr, std::string* headers = nullptr);

private:
    pid_t pid_ = -1;
    int stdin_fd_ = -1; // held open: its end tells the provider that the test is gone
    int port_ = 0;
    std::string error_;
};

// The value of a string or number member of a flat JSON object ("" when absent): enough for the provider's replies.
std::string json_member(const std::string& json, const std::string& name);
