#include "mail/mail_check.h"

#include "logging/log.h"
#include "mail/imap.h"
#include "mail/pop3.h"
#include "settings/settings_access.h"
#include "settings/text.h"

#include <cerrno>
#include <string>

int mail_check(int index) {
    const std::string protocol = settings_get(Key::Protocol, index);
    // Leading digits count, as for every number in the settings, so "01" is IMAP; a value that does not begin with
    // a digit names no protocol.
    const bool number = !protocol.empty() && protocol[0] >= '0' && protocol[0] <= '9';
    const int value = number ? text_to_int(protocol.c_str()) : -1;
    if (protocol.empty() || value == 0) {
        return pop3_check(index);
    }
    if (value == 1) {
        return imap_check(index);
    }
    write_error_logf("check mail ---> The protocol setting is abnormal[no.%d error: %d]", index, EINVAL);
    return -1;
}
