// SPDX-License-Identifier: GPL-3.0-or-later
// Renders every page of the option window, filled with sample settings, to PNG files for the user guide:
//     kd5lite_op_shots [directory]        (default docs/screenshots)
#include "gui/screenshots.h"
#include "option/option_dlg.h"
#include "settings/keys.h"
#include "settings/mailbox_codes.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

namespace {

void write_sample_settings() {
    put_state(NotifierState::busy);
    settings_put(Key::SpecialAddress1, "boss@example.com", 0);
    settings_put(Key::SpecialAddress2, "orders@example.com", 0);
    settings_put(Key::SpecialAddress1, "example.org", 1);
    for (Key key : {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3}) {
        settings_put(key, "1", 0);
        settings_put(key, "2", 1);
    }
    settings_put(Key::SoundFile, "/usr/share/sounds/kd5lite/red.wav", 0);
    settings_put(Key::SoundFile, "/usr/share/sounds/kd5lite/green.wav", 1);
    settings_put(Key::ServerName, "imap.gmail.com:993", 0);
    settings_put(Key::ID, "alice@gmail.com", 0);
    settings_put(Key::Protocol, "1", 0);
    settings_put(Key::Folder, "INBOX", 0);
    settings_put(Key::Security, "2", 0);
    settings_put(Key::Auth, "1", 0);
    settings_put(Key::OAuthSource, "1", 0);
    settings_put(Key::OAuthProvider, "google", 0);
    settings_put(Key::Security, "1", 1);
    settings_put(Key::TlsFingerprint,
                 "3F:9A:0C:52:E1:7B:44:D8:06:BE:91:2A:C5:70:1D:EF:68:B3:29:04:9E:5C:F1:87:A2:3D:60:CB:15:E8:7F:42", 1);
    settings_clear();
}

} // namespace

int main(int argc, char** argv) {
    return screenshots_main(argc, argv, QStringLiteral("option"), write_sample_settings,
                            [] { return std::make_unique<COptionDlg>(); });
}
