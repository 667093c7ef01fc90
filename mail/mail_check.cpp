#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/imap/imap.h"
#include "mail/pop3/pop3.h"
#include "settings/settings.h"

#include <cerrno>

int mail_check(const Account& account) {
    switch (account.protocol) {
    case MailProtocol::pop3: return pop3_check(account);
    case MailProtocol::imap: return imap_check(account);
    default: break;
    }
    write_error_logf("check mail ---> The protocol setting is abnormal[no.%d error: %d]", account.index, EINVAL);
    return -1;
}

namespace {

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
