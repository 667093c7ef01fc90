// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/core/check_outcome.h"

#include "logging/log.h"

const char* check_step_name(CheckStep step) {
    switch (step) {
    case CheckStep::none:
        return "none";
    case CheckStep::settings:
        return "settings";
    case CheckStep::secret:
        return "secret";
    case CheckStep::token:
        return "access token";
    case CheckStep::resolve:
        return "name lookup";
    case CheckStep::connect:
        return "connection";
    case CheckStep::greeting:
        return "greeting";
    case CheckStep::tls:
        return "TLS";
    case CheckStep::user:
        return "user name";
    case CheckStep::login:
        return "login";
    case CheckStep::folder:
        return "folder";
    case CheckStep::count:
        return "count";
    case CheckStep::headers:
        return "headers";
    case CheckStep::logout:
        return "logout";
    }
    return "unknown";
}

const char* check_failure_name(CheckFailure failure) {
    switch (failure) {
    case CheckFailure::none:
        return "none";
    case CheckFailure::unreachable:
        return "unreachable";
    case CheckFailure::tls:
        return "TLS failed";
    case CheckFailure::certificate:
        return "certificate not trusted";
    case CheckFailure::protocol_broken:
        return "protocol broken";
    case CheckFailure::flood:
        return "flood";
    case CheckFailure::refused:
        return "refused";
    case CheckFailure::refused_login:
        return "login refused";
    case CheckFailure::refused_token:
        return "token refused";
    case CheckFailure::sign_in_again:
        return "sign in again";
    case CheckFailure::no_token:
        return "no token";
    case CheckFailure::keyring:
        return "keyring";
    case CheckFailure::settings:
        return "settings";
    case CheckFailure::stopped:
        return "stopped";
    }
    return "unknown";
}

void write_failure_line(CheckOutcome& outcome, CheckStep step, CheckFailure failure, int error, std::string line) {
    write_error_log(line.c_str());
    outcome = CheckOutcome{step, failure, error, std::move(line)};
}
