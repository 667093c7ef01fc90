// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "gui/tab_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// The room a drop-down list gives its text, beside its arrow.
inline int text_room(QComboBox* combo) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    return combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
}

// Checks that every text of the page (captions, the items and placeholder of a drop-down list, an edit's
// placeholder, the lines of a wrapped label) has the room its control gives it, in the font the test runs with,
// that every shown control lies inside the page and that no two overlap (group boxes frame other controls and are
// measured only for their captions). Catches a template position mistyped and a text cut off by its control.
inline void expect_page_fits(const Page* page) {
    std::vector<QWidget*> controls;
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isHidden() && qobject_cast<QGroupBox*>(w) == nullptr) {
            controls.push_back(w);
        }
    }
    for (QWidget* w : controls) {
        QString text;
        int room = w->width();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->wordWrap()) {
                EXPECT_LE(label->heightForWidth(label->width()), label->height()) << label->text().toStdString();
            } else {
                text = label->text();
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStringList texts{combo->placeholderText()};
            for (int i = 0; i < combo->count(); ++i) {
                texts << combo->itemText(i);
            }
            for (const QString& item : texts) {
                EXPECT_LE(combo->fontMetrics().horizontalAdvance(item), text_room(combo)) << item.toStdString();
            }
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            text = edit->placeholderText();
            room -= 8; // the edit's frame and margins
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            text = button->text();
            room -= 8; // the button's frame
        } else if (auto* list = qobject_cast<QListWidget*>(w)) {
            for (int i = 0; i < list->count(); ++i) {
                EXPECT_LE(list->fontMetrics().horizontalAdvance(list->item(i)->text()), list->viewport()->width())
                    << list->item(i)->text().toStdString();
            }
        }
        EXPECT_LE(w->fontMetrics().horizontalAdvance(text), room) << text.toStdString();
        EXPECT_LE(w->fontMetrics().height(), w->height()) << text.toStdString();
        EXPECT_TRUE(page->rect().contains(w->geometry())) << text.toStdString();
    }
    for (std::size_t a = 0; a < controls.size(); ++a) {
        for (std::size_t b = a + 1; b < controls.size(); ++b) {
            EXPECT_FALSE(controls[a]->geometry().intersects(controls[b]->geometry()))
                << controls[a]->objectName().toStdString() << " "
                << controls[a]->property("text").toString().toStdString() << " / "
                << controls[b]->objectName().toStdString() << " "
                << controls[b]->property("text").toString().toStdString();
        }
    }
    for (QGroupBox* group : page->findChildren<QGroupBox*>()) {
        EXPECT_LE(group->fontMetrics().horizontalAdvance(group->title()), group->width());
    }
}

// The same for every page of a tool's window, shown as the user sees it.
inline void expect_pages_fit(TabWindow& window) {
    window.show();
    for (int i = 0; i < window.page_count(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i));
        expect_page_fits(window.page(i));
    }
}
