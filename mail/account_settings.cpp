#include "mail/account_settings.h"

#include "settings/settings.h"
#include "settings/settings_access.h"
#include "settings/text.h"

namespace {

SenderFilters read_sender_filters(int index) {
    SenderFilters f;
    const Key addresses[] = {Key::SpecialAddress1, Key::SpecialAddress2, Key::SpecialAddress3};
    const Key searches[] = {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3};
    for (int i = 0; i < 3; ++i) {
        f.address[i] = settings_get(addresses[i], index);
        f.condition[i] = text_to_int(settings_get(searches[i], index).c_str());
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
    a.protocol = mail_protocol(settings_get(Key::Protocol, index).c_str());
    a.security = mail_security(settings_get(Key::Security, index).c_str());
    a.fingerprint = settings_get(Key::TlsFingerprint, index);
    a.folder = settings_get(Key::Folder, index);
    a.filters = read_sender_filters(index);
    return a;
}
