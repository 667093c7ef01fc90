// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/dialog_units.h"

#include <QDialog>
#include <vector>

class Page;
class QAction;
class QPushButton;
class QTabWidget;

// The one window of each tool: a fixed-size dialog of 233 x 255 dialog units with a tab control that holds the
// pages and a Close button that ends the program with exit status 1 at once, saving nothing.
//
// A tool derives its window from this class, creates its pages with tab_parent() as parent and hands each to
// add_page in tab order, then calls show_first_page(). Each page reads its keys in its own constructor, so the
// settings are read once, in page order, while the window is built.
//
// Keyboard rules: Enter does nothing anywhere in the window (KeyFilter) and Escape never cancels. The close box
// either ends the dialog the ordinary way (shown) or ends the program as the Close button does (ends_program).
//
// The other tool may save while this window is open: each time the window comes to the front its pages refresh().
class TabWindow : public QDialog {
    Q_OBJECT
public:
    enum class CloseBox { shown, ends_program };

    TabWindow(const char* caption, CloseBox close_box);

    // The parent for the pages: the tab control.
    QWidget* tab_parent() const;
    // Appends a tab with label for page and places the page at 14, 20 pixels in the tab control.
    void add_page(const char* label, Page* page);
    // Hides every page and shows the first one.
    void show_first_page();
    // The entry entry_text that opens the tool's About box, which shows about_line. A desktop's window menu takes
    // no entries from the program, so the entry is offered in the window's own menu of the right mouse button.
    void add_about_entry(const char* entry_text, const char* about_line);
    QAction* about_action() const { return about_action_; }

    int page_count() const { return static_cast<int>(pages_.size()); }
    Page* page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }
    QTabWidget* tabs() const { return tabs_; }
    QPushButton* close_button() const { return close_button_; }
    const DialogUnits& units() const { return units_; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void show_page(int index);

    DialogUnits units_;
    QTabWidget* tabs_;
    QPushButton* close_button_;
    std::vector<Page*> pages_;
    CloseBox close_box_;
    QAction* about_action_ = nullptr;
};
