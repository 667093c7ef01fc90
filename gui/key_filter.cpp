// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/key_filter.h"

#include "gui/page.h"
#include "logging/log.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

// The trace number of the page that holds widget, or 0 outside every page.
int trace_number_of(QWidget* widget) {
    for (QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        if (auto* page = qobject_cast<Page*>(w)) {
            return page->trace_number();
        }
    }
    return 0;
}

bool is_enter(const QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
        return false;
    }
    int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

KeyFilter::KeyFilter(QWidget* window) : QObject(window), window_(window) {
    // Key events go to the focused widget first, and line edits, buttons and lists act on Enter themselves, so
    // the filter has to see them before any widget of the window does.
    QCoreApplication::instance()->installEventFilter(this);
}

KeyFilter::~KeyFilter() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

QByteArray KeyFilter::trace_line(int trace_number) {
    return "(" + QByteArray::number(trace_number) + ")------- Enter key -------";
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (!is_enter(event) || !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != window_) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        write_trace(LogKind::dbg, 0, trace_line(trace_number_of(widget)).constData());
    }
    return true;
}
