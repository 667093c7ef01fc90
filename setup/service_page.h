// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/service_page.h"

class QCheckBox;

// Tab " 服务 ": the shared service page with this program's line breaks in its note, and the user's own switch
// for starting the notifier at login ("autostart" check box, "autostartApply" button).
class CServicePage : public ServicePage {
    Q_OBJECT
public:
    explicit CServicePage(QWidget* parent);

    // Writes the user's autostart entry as the check box says; a message box says why when it cannot.
    void apply_autostart();

private:
    QCheckBox* autostart_;
};
