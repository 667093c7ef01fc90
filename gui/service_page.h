#pragma once

#include "gui/page.h"

#include <array>

class QLineEdit;

// The service page of both tools: shows the notifier's state, refreshed only by its "运行扫描" button, and starts
// ("开始使用", request 1) or stops ("停止使用", request 4) mail monitoring. The tools differ only in how the four
// lines of the note are broken.
class ServicePage : public Page {
    Q_OBJECT
public:
    using Note = std::array<const char*, 4>;

    ServicePage(QWidget* parent, int trace_number, const Note& note);

    // Reads the State key again and shows its text.
    void refresh_state();

private:
    QLineEdit* state_;
};
