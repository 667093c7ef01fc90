// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/setup_app.h"

#include "gui/app_font.h"
#include "gui/qt_translations.h"
#include "setup/setup_dlg.h"

CSetupApp::CSetupApp(int& argc, char** argv) : QApplication(argc, argv) {
    apply_dialog_font(*this);
    install_qt_translations(*this);
}

int CSetupApp::run() {
    CSetupDlg dialog;
    dialog.exec();
    return 0;
}
