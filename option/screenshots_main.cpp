// Renders every page of the option window, filled with sample settings, to PNG files for the README:
//     kd5lite_op_shots [directory]        (default docs/screenshots)
#include "gui/screenshots.h"
#include "option/option_app.h"
#include "option/option_dlg.h"
#include "settings/keys.h"
#include "settings/settings.h"
#include "settings/settings_access.h"

#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

// Sample settings in a directory of their own, so the user's real settings are neither shown nor touched.
void write_sample_settings() {
    settings_put(Key::State, "1");
    settings_put(Key::SpecialAddress1, "boss@example.com", 0);
    settings_put(Key::SpecialAddress2, "orders@example.com", 0);
    for (Key key : {Key::SpecialSearch1, Key::SpecialSearch2, Key::SpecialSearch3}) {
        settings_put(key, "1", 0);
        settings_put(key, "2", 1);
    }
    settings_put(Key::SpecialAddress1, "example.org", 1);
    settings_put(Key::SoundFile, "/usr/share/sounds/kd5lite/red.wav", 0);
    settings_put(Key::SoundFile, "/usr/share/sounds/kd5lite/green.wav", 1);
    settings_clear();
}

} // namespace

int main(int argc, char** argv) {
    // The pictures must not depend on the desktop the command runs in.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QTemporaryDir home;
    if (!home.isValid()) {
        std::fprintf(stderr, "cannot make a temporary settings directory\n");
        return 1;
    }
    setenv("CORVO_HOME", home.path().toLocal8Bit().constData(), 1);
    write_sample_settings();

    QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    COptionApp app(argc, argv);
    COptionDlg dialog;
    int written = save_tab_screenshots(dialog, dir, QStringLiteral("option"));
    std::printf("%d pictures in %s\n", written, qPrintable(dir));
    return written == dialog.page_count() ? 0 : 1;
}
