// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/service_page.h"

class QLineEdit;

// Tab " 服务 ": the shared service page with this program's line breaks in its note, and the hook command that the
// notifier runs on every change of what the lamp shows (key Hook), with its own 应用 button.
class COptionServicePage : public ServicePage {
    Q_OBJECT
public:
    explicit COptionServicePage(QWidget* parent);

private:
    void apply_hook();

    QLineEdit* hook_;
};
