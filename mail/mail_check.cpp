#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/account_settings.h"
#include "mail/imap/imap.h"
#include "mail/pop3/pop3.h"
#include "settings/settings.h"

#include <cerrno>

int mail_check(const Account& account, CheckIds* ids) {
    switch (account.protocol) {
    case MailProtocol::pop3: return pop3_check(account, ids);
    case MailProtocol::imap: return imap_check(account, ids);
    default: break;
    }
    write_error_logf("check mail ---> The protocol setting is abnormal[no.%d error: %d]", account.index, EINVAL);
    return -1;
}

namespace {

bool valid(int index) {
    return index >= 0 && index < kAccountCount;
}

} // namespace

int mail_check(int index) {
    return valid(index) ? mail_check(read_account(index)) : -1;
}

int pop3_check(int index) {
    return valid(index) ? pop3_check(read_account(index)) : -1;
}

int imap_check(int index) {
    return valid(index) ? imap_check(read_account(index)) : -1;
}
