// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"

#include "kd5_version.h"

// The maker's web page, shown on the version page and opened by its button: the package's Homepage as well.
inline constexpr char kMakerWebPage[] = KD5_HOMEPAGE;

// Tab " 版本 ": the version and product identification that the notifier keeps in the settings file, read-only,
// and a button that opens the maker's web page. Writes nothing.
class CVersionPage : public Page {
    Q_OBJECT
public:
    explicit CVersionPage(QWidget* parent);
};
