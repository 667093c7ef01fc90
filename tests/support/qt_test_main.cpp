// SPDX-License-Identifier: GPL-3.0-or-later
// main() of the GUI test programs: real widgets on the offscreen platform, in the tools' dialog font, with Qt's
// Chinese translations.
#include "gui/app_font.h"
#include "gui/qt_translations.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // CMake's test discovery runs this program at build time, where a test's environment property does not apply.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    apply_dialog_font(app);
    install_qt_translations(app); // as the programs do, so that the tests see Qt's texts as a user does
    return RUN_ALL_TESTS();
}
