// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"

// The maker's web page, shown on the version page and opened by its button.
inline constexpr char kMakerWebPage[] = "https://www.kestrel.example/corvo/kd5m/chinese/";

// Tab " 版本 ": the version and product identification that the notifier keeps in the settings file, read-only,
// and a button that opens the maker's web page. Writes nothing.
class CVersionPage : public Page {
    Q_OBJECT
public:
    explicit CVersionPage(QWidget* parent);
};
