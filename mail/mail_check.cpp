#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/imap/imap.h"
#include "mail/pop3/pop3.h"
#include "mail/sasl/access_token.h"
#include "mail/net/tls_settings.h"
#include "settings/settings_access.h"

#include <cerrno>
#include <string>

namespace {

int check_once(int index) {
    switch (mail_protocol(settings_get(Key::Protocol, index).c_str())) {
    case MailProtocol::pop3: return pop3_check(index);
    case MailProtocol::imap: return imap_check(index);
    default: break;
    }
    write_error_logf("check mail ---> The protocol setting is abnormal[no.%d error: %d]", index, EINVAL);
    return -1;
}

} // namespace

int mail_check(int index) {
    take_token_rejected(index); // a refusal noted by an IDLE watcher's login is not this check's
    int result = check_once(index);
    // A refused access token is renewed once (it may have expired early or been revoked), and never more often:
    // a source that cannot renew has said so in its line, and the next check comes at the next pass.
    if (take_token_rejected(index)) {
        ask_token_renewal(index);
        result = check_once(index);
        take_token_rejected(index);
    }
    return result;
}
