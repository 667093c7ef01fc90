// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/imap/imap.h"
#include "mail/pop3/pop3.h"
#include "mail/sasl/access_token.h"
#include "mail/sasl/token_rejection.h"
#include "platform/secret.h"
#include "settings/settings.h"

#include <cerrno>

namespace {

int check_once(const Account& account, CheckIds* ids) {
    switch (account.protocol) {
    case MailProtocol::pop3: return pop3_check(account, ids);
    case MailProtocol::imap: return imap_check(account, ids);
    default: break;
    }
    write_error_logf("check mail ---> The protocol setting is abnormal[no.%d error: %d]", account.index, EINVAL);
    return -1;
}

int oauth_check(const Account& account, CheckIds* ids) {
    if (account.security == MailSecurity::plain) {
        // A bearer token is as good as the password to whoever reads it on the way.
        write_error_logf("check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.%d error: %d]",
                         account.index, EPERM);
        return -1;
    }
    Account signed_in = account;
    take_token_rejected(account.index); // a refusal an IDLE watcher's login noted is not this check's
    if (sign_account(signed_in) != 0) {
        return -1;
    }
    int result = check_once(signed_in, ids);
    // A refused token is renewed once (it may have expired early or been revoked), never more often: a source that
    // cannot renew has said so in its line, and the next try comes with the next pass.
    if (take_token_rejected(account.index)) {
        ask_token_renewal(account.index);
        if (sign_account(signed_in) != 0) {
            return -1;
        }
        result = check_once(signed_in, ids);
        take_token_rejected(account.index);
    }
    return result;
}

bool valid(int index) {
    return index >= 0 && index < kAccountCount;
}

// The account with its password from where its settings keep it; a keyring that does not give it leaves its error
// line, and the check fails as one that could not reach the server: the account's LED stays as it was.
bool read_for_check(int index, Account& account) {
    if (!valid(index)) {
        return false;
    }
    SecretResult keyring = SecretResult::ok;
    if (read_account(index, account, &keyring) != 0) {
        write_keyring_error(index, keyring);
        return false;
    }
    return true;
}

} // namespace

int mail_check(const Account& account, CheckIds* ids) {
    return account.credential.kind == CredentialKind::oauth2 ? oauth_check(account, ids) : check_once(account, ids);
}

int mail_check(int index) {
    Account account;
    return read_for_check(index, account) ? mail_check(account) : -1;
}

int pop3_check(int index) {
    Account account;
    return read_for_check(index, account) ? pop3_check(account) : -1;
}

int imap_check(int index) {
    Account account;
    return read_for_check(index, account) ? imap_check(account) : -1;
}
