// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;

// Qt's own texts in Chinese, as every text of ours is: the buttons of message boxes, the edit fields' context menu,
// the file chooser. Qt's translations (qtbase_zh_CN.qm, Debian's qt6-translations-l10n) are looked for where this
// Qt keeps them (QLibraryInfo::TranslationsPath), whatever the user's locale; the dialogs' texts are Chinese for
// every user. Returns false when they are not installed: Qt's texts then stay English.
bool install_qt_translations(QCoreApplication& app);
