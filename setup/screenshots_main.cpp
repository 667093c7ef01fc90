// SPDX-License-Identifier: GPL-3.0-or-later
// Renders every page of the setup window, filled with sample settings, to PNG files for the user guide:
//     kd5lite_ap_shots [directory]        (default docs/screenshots)
#include "gui/screenshots.h"
#include "settings/keys.h"
#include "settings/password_pair.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/setup_dlg.h"

namespace {

void write_sample_settings() {
    const std::pair<Key, const char*> system[] = {
        {Key::SerialNumber, "K5L20417"}, {Key::EntryCount, "0"}, {Key::IntervalTimer, "10"}, {Key::BeepTime, "1"},
        {Key::StateLog, "107"},          {Key::ErrorLog, "107"}, {Key::State, "2"},          {Key::Version, kVersion},
        {Key::Company, kCompany},        {Key::Brand, kBrand},   {Key::Product, kProduct},   {Key::Type, kType},
    };
    for (const auto& [key, value] : system) {
        settings_put(key, value);
    }
    settings_put(Key::Switch, "1", 0);
    settings_put(Key::ServerName, "pop.example.net", 0);
    settings_put(Key::ID, "li.wei@example.net", 0);
    settings_set(Key::Password, "secret", 0);
    ini_write_password(0);
    settings_clear();
}

} // namespace

int main(int argc, char** argv) {
    return screenshots_main(argc, argv, QStringLiteral("setup"), write_sample_settings,
                            [] { return std::make_unique<CSetupDlg>(); });
}
