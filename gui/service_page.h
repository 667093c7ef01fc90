// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "settings/mailbox_codes.h"

#include <QTimer>

#include <array>
#include <optional>

class QLabel;
class QLineEdit;

// The service page of both tools: shows the notifier's state, read again once a second while the page is shown
// and at once by its "运行扫描" button, and starts ("开始使用", request 1) or stops ("停止使用", request 4) mail
// monitoring, with a line that says whether the notifier took the request up, or else that no account is set up
// yet. A line says that a saved change reaches a running monitor at its next pass. The tools differ only in how
// the four lines of the note are broken.
class ServicePage : public Page {
    Q_OBJECT
public:
    using Note = std::array<const char*, 4>;

    ServicePage(QWidget* parent, int trace_number, const Note& note);

    // Reads the State key (and, after a button, Job) again and shows their texts.
    void refresh_state();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void request(Request request);

    QLineEdit* state_;
    QLabel* fate_;
    std::optional<Request> pressed_; // the request of the button pressed last, for the fate line
    bool any_account_ = true;       // read again each time the page is shown; without one the fate line says so
    QTimer refresh_;
};
