// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/tab_window.h"

#include "gui/about_box.h"
#include "gui/key_filter.h"
#include "gui/page.h"
#include "gui/window_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <cstdlib>

namespace {

constexpr int kPageLeft = 14; // pixels, inside the tab control
constexpr int kPageTop = 20;

// A fixed dialog: no boxes that iconise or enlarge it, only the close box.
constexpr Qt::WindowFlags kWindowFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

} // namespace

TabWindow::TabWindow(const char* caption, CloseBox close_box)
    : QDialog(nullptr, kWindowFlags), units_(DialogUnits::of(font())), close_box_(close_box) {
    setWindowTitle(QString::fromUtf8(caption));
    setWindowIcon(tool_icon());
    setFixedSize(units_.x(233), units_.y(255));

    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("tabs"));
    tabs_->setGeometry(units_.rect(7, 7, 219, 223));
    connect(tabs_, &QTabWidget::currentChanged, this, &TabWindow::show_page);

    close_button_ = new QPushButton(QStringLiteral("关　　闭"), this);
    close_button_->setObjectName(QStringLiteral("close"));
    close_button_->setAutoDefault(false);
    close_button_->setGeometry(units_.rect(176, 234, 50, 14));
    // Ends the program at once: nothing is saved, nothing asked, no request written; unapplied edits are lost.
    connect(close_button_, &QPushButton::clicked, [] { std::_Exit(1); });

    new KeyFilter(this);
}

QWidget* TabWindow::tab_parent() const {
    return tabs_;
}

void TabWindow::add_page(const char* label, Page* page) {
    pages_.push_back(page);
    // The tab carries an empty stand-in: the page itself sits at a fixed offset in the tab control, above it.
    tabs_->blockSignals(true);
    tabs_->addTab(new QWidget, QString::fromUtf8(label));
    tabs_->blockSignals(false);
    page->move(kPageLeft, kPageTop);
    page->raise();
    page->show();
    // In this font the tab row is taller than the offset; it stays above the page's empty top margin so that
    // every tab can still be clicked.
    tabs_->tabBar()->raise();
}

void TabWindow::show_first_page() {
    tabs_->setCurrentIndex(0);
    show_page(0);
}

void TabWindow::add_about_entry(const char* entry_text, const char* about_line) {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    about_action_ = new QAction(QString::fromUtf8(entry_text), this);
    about_action_->setObjectName(QStringLiteral("about"));
    addAction(about_action_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    std::string line = about_line;
    connect(about_action_, &QAction::triggered, this, [this, line] {
        CAboutDlg about(this, line.c_str());
        about.exec();
    });
}

void TabWindow::show_page(int index) {
    for (Page* p : pages_) {
        p->hide();
    }
    if (index >= 0 && index < page_count()) {
        page(index)->show();
    }
}

bool TabWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        for (Page* p : pages_) {
            p->refresh();
        }
    }
    return QDialog::event(event);
}

void TabWindow::showEvent(QShowEvent* event) {
    // The window exists by now but is not yet mapped: the hints are there before the window manager frames it.
    offer_no_enlarging(this);
    QDialog::showEvent(event);
}

void TabWindow::keyPressEvent(QKeyEvent* event) {
    // Escape reaches the focused control as any key does, but never becomes Cancel.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TabWindow::closeEvent(QCloseEvent* event) {
    if (close_box_ == CloseBox::ends_program) {
        close_button_->click(); // a close box that did nothing would leave the user no way out but the button
        return;
    }
    QDialog::closeEvent(event);
}
