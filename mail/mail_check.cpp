// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/core/check_outcome.h"
#include "mail/imap/imap.h"
#include "mail/mail_probe.h"
#include "mail/pop3/pop3.h"
#include "mail/sasl/access_token.h"
#include "mail/sasl/token_rejection.h"
#include "platform/secret.h"
#include "settings/settings.h"

#include <cerrno>

namespace {

// A Protocol that is neither POP3 nor IMAP makes no connection.
void write_protocol_abnormal(const Account& account, CheckOutcome& outcome) {
    write_failure_line(
        outcome, CheckStep::settings, CheckFailure::settings, EINVAL,
        format_text("check mail ---> The protocol setting is abnormal[no.%d error: %d]", account.index, EINVAL));
}

int check_once(const Account& account, CheckIds* ids, CheckOutcome& outcome) {
    switch (account.protocol) {
    case MailProtocol::pop3:
        return pop3_check(account, ids, &outcome);
    case MailProtocol::imap:
        return imap_check(account, ids, &outcome);
    default: break;
    }
    write_protocol_abnormal(account, outcome);
    return -1;
}

int oauth_check(const Account& account, CheckIds* ids, CheckOutcome& outcome) {
    if (account.security == MailSecurity::plain) {
        // A bearer token is as good as the password to whoever reads it on the way.
        write_failure_line(outcome, CheckStep::settings, CheckFailure::settings, EPERM,
                           format_text("check mail ---> OAuth2 is refused without TLS: Security must be 1 or 2[no.%d "
                                       "error: %d]",
                                       account.index, EPERM));
        return -1;
    }
    Account signed_in = account;
    take_token_rejected(account.index); // a refusal an IDLE watcher's login noted is not this check's
    if (sign_account(signed_in, &outcome) != 0) {
        return -1;
    }
    int result = check_once(signed_in, ids, outcome);
    // A refused token is renewed once (it may have expired early or been revoked), never more often: a source that
    // cannot renew has said so in its line, and the next try comes with the next pass.
    if (take_token_rejected(account.index)) {
        ask_token_renewal(account.index);
        if (sign_account(signed_in, &outcome) != 0) {
            return -1;
        }
        result = check_once(signed_in, ids, outcome);
        take_token_rejected(account.index);
    }
    return result;
}

} // namespace

// The account with its password from where its settings keep it; a keyring that does not give it leaves its error
// line, and the check fails as one that could not reach the server: the account's LED stays as it was.
int read_account_for_check(int index, Account& account, CheckOutcome* outcome) {
    CheckOutcome failure;
    int rc = -1;
    if (index >= 0 && index < kAccountCount) {
        SecretResult keyring = SecretResult::ok;
        rc = read_account(index, account, &keyring, &failure);
        if (rc != 0 && failure.ok()) {
            write_keyring_error(index, keyring, SecretKind::password, &failure);
        }
    }
    if (outcome != nullptr) {
        *outcome = std::move(failure);
    }
    return rc;
}

int mail_check(const Account& account, CheckIds* ids, CheckOutcome* outcome) {
    CheckOutcome ended;
    const int result = account.credential.kind == CredentialKind::oauth2 ? oauth_check(account, ids, ended)
                                                                         : check_once(account, ids, ended);
    if (outcome != nullptr) {
        *outcome = std::move(ended);
    }
    return result;
}

int mail_check(int index, CheckOutcome* outcome) {
    Account account;
    return read_account_for_check(index, account, outcome) == 0 ? mail_check(account, nullptr, outcome) : -1;
}

int pop3_check(int index) {
    Account account;
    return read_account_for_check(index, account) == 0 ? pop3_check(account) : -1;
}

int imap_check(int index) {
    Account account;
    return read_account_for_check(index, account) == 0 ? imap_check(account) : -1;
}

CheckOutcome mail_probe(const Account& account, bool login, const ProbeReport& report) {
    switch (account.protocol) {
    case MailProtocol::pop3:
        return pop3_probe(account, login, report);
    case MailProtocol::imap:
        return imap_probe(account, login, report);
    default:
        break;
    }
    CheckOutcome outcome;
    write_protocol_abnormal(account, outcome);
    return outcome;
}

CheckOutcome mail_probe_tls(const Account& account, const ProbeReport& report) {
    switch (account.protocol) {
    case MailProtocol::pop3:
        return pop3_probe_tls(account, report);
    case MailProtocol::imap:
        return imap_probe_tls(account, report);
    default:
        break;
    }
    CheckOutcome outcome;
    write_protocol_abnormal(account, outcome);
    return outcome;
}
