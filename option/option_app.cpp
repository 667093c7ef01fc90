// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_app.h"

#include "gui/app_font.h"
#include "gui/qt_translations.h"
#include "option/option_dlg.h"

COptionApp::COptionApp(int& argc, char** argv) : QApplication(argc, argv) {
    apply_dialog_font(*this);
    install_qt_translations(*this);
}

int COptionApp::run() {
    COptionDlg dialog;
    dialog.exec();
    return 0;
}
