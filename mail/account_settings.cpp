// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/account_settings.h"

#include "logging/log.h"
#include "mail/sasl/access_token.h"
#include "platform/secret.h"
#include "platform/text.h"
#include "platform/timing.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <string>

namespace {

SenderFilters read_sender_filters(int index) {
    SenderFilters f;
    const Key addresses[] = {Key::SpecialAddress1, Key::SpecialAddress2, Key::SpecialAddress3};
    for (int i = 0; i < 3; ++i) {
        f.address[i] = settings_get(addresses[i], index);
        f.condition[i] = account_sender_condition(index, i);
    }
    return f;
}

} // namespace

Account read_account(int index) {
    Account a;
    a.index = index;
    a.server = settings_get(Key::ServerName, index);
    a.user = settings_get(Key::ID, index);
    {
        // Read into the fixed buffer itself, never through a std::string: the field is the plain password.
        SecretBuffer<sizeof g_settings.user[0].Password> password;
        settings_get_into(Key::Password, password.text, sizeof password.text, index);
        a.credential.secret.assign(password.text);
    }
    if (account_auth(index) == CredentialKind::oauth2) {
        a.credential.kind = CredentialKind::oauth2; // the token comes from the account's source at each check
        a.credential.secret.clear();
    }
    a.protocol = account_protocol(index);
    a.security = account_security(index);
    a.fingerprint = settings_get(Key::TlsFingerprint, index);
    a.folder = settings_get(Key::Folder, index);
    a.folders = settings_get(Key::Folders, index);
    a.filters = read_sender_filters(index);
    a.oauth_source = account_oauth_source(index);
    a.token_command = settings_get(Key::TokenCommand, index);
    return a;
}

bool oauth_account(int index) {
    return account_auth(index) == CredentialKind::oauth2;
}

int read_account(int index, Account& account, SecretResult* keyring, CheckOutcome* failure) {
    account = read_account(index);
    if (place_account(account, failure) != 0) {
        return -1; // its line is written; the keyring was not asked
    }
    // An OAuth2 account signs in with a token: with SecretStore "1" its keyring may well hold no password at all.
    if (!password_in_keyring(index) || account.credential.kind == CredentialKind::oauth2) {
        return 0;
    }
    std::string secret;
    const SecretResult result = secret_lookup(account_secret_key(index), secret, SecretUnlock::never,
                                              timing().keyring_wait_ms);
    account.credential.secret.assign(secret);
    wipe_secret(secret);
    if (keyring != nullptr) {
        *keyring = result;
    }
    return result == SecretResult::ok ? 0 : -1;
}

void write_keyring_error(int index, SecretResult keyring, SecretKind kind, CheckOutcome* outcome) {
    const char* what = kind == SecretKind::refresh_token ? "refresh token" : "password";
    std::string line;
    int error = 0;
    switch (keyring) {
    case SecretResult::ok:
        return;
    case SecretResult::locked:
        error = EACCES;
        line = format_text("check mail ---> The keyring is locked[no.%d error: %d]", index, error);
        break;
    case SecretResult::not_found:
        error = ENOENT;
        line = format_text("check mail ---> The %s is not in the keyring[no.%d error: %d]", what, index, error);
        break;
    case SecretResult::no_service:
        error = ECONNREFUSED;
        line = format_text("check mail ---> The keyring is not running[no.%d error: %d]", index, error);
        break;
    case SecretResult::timed_out:
        error = ETIMEDOUT;
        line = format_text("check mail ---> The keyring does not answer[no.%d error: %d]", index, error);
        break;
    default:
        error = EIO;
        line = format_text("check mail ---> The keyring refused the %s[no.%d error: %d]", what, index, error);
        break;
    }
    CheckOutcome written;
    write_failure_line(outcome != nullptr ? *outcome : written, CheckStep::secret, CheckFailure::keyring, error,
                       std::move(line));
}
