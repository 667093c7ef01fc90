#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/imap/imap.h"
#include "mail/pop3/pop3.h"
#include "mail/net/tls_settings.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <string>

int mail_check(int index, CheckIds* ids) {
    switch (mail_protocol(settings_get(Key::Protocol, index).c_str())) {
    case MailProtocol::pop3: return pop3_check(index, ids);
    case MailProtocol::imap: return imap_check(index, ids);
    default: break;
    }
    write_error_logf("check mail ---> The protocol setting is abnormal[no.%d error: %d]", index, EINVAL);
    return -1;
}
