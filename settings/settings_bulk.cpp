#include "settings/settings_bulk.h"

#include "mail/scramble.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

namespace {

constexpr Key kHead[] = {Key::Company,      Key::Brand,       Key::Product,  Key::Type,
                         Key::SerialNumber, Key::CurrentPath, Key::Language, Key::Version,
                         Key::EntryCount,   Key::IntervalTimer, Key::BeepTime};

// Account keys after the password, in file order. The connection security keys and then the protocol keys come
// last, so older files and readers see the keys they know in the order they know.
constexpr Key kAccountTail[] = {Key::SoundFile,      Key::SpecialAddress1, Key::SpecialAddress2,
                                Key::SpecialAddress3, Key::SpecialSearch1,  Key::SpecialSearch2,
                                Key::SpecialSearch3,  Key::Security,        Key::TlsFingerprint,
                                Key::Protocol,        Key::Folder};

constexpr Key kTail[] = {Key::StateLog, Key::ErrorLog, Key::Request, Key::State,
                         Key::Answer,   Key::Error,    Key::Job};

constexpr Key kAccountHead[] = {Key::Switch, Key::ServerName, Key::ID, Key::Password};


// Calls on_key for every key in file order; around each account's password it calls before_account (before the
// account's first key) and after_password (right after its Password).
template <typename OnKey, typename BeforeAccount, typename AfterPassword>
void visit_keys(OnKey on_key, BeforeAccount before_account, AfterPassword after_password) {
    for (Key k : kHead) {
        on_key(k, 0);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        before_account(i);
        for (Key k : kAccountHead) {
            on_key(k, i);
        }
        after_password(i);
        for (Key k : kAccountTail) {
            on_key(k, i);
        }
    }
    for (Key k : kTail) {
        on_key(k, 0);
    }
}

void nothing(int) {}

} // namespace

void ini_read_all() {
    visit_keys([](Key k, int i) { ini_read_key(k, i); }, nothing,
               [](int i) { unscramble_password(i, g_settings.user[i].Password); });
}

void ini_check_all() {
    visit_keys([](Key k, int i) { ini_check_key(k, i); }, nothing, nothing);
}

void ini_write_all() {
    visit_keys([](Key k, int i) { ini_write_key(k, i); },
               [](int i) { scramble_password(i, g_settings.user[i].Password); }, nothing);
}
