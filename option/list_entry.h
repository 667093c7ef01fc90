// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <cstddef>

class QComboBox;
class QListWidget;

// Lists whose entry indexes are the values stored: the sender conditions and the connection security.

// The items of such a list, from their UTF-8 texts.
template <std::size_t N> QStringList list_items(const char* const (&texts)[N]) {
    QStringList items;
    for (const char* text : texts) {
        items << QString::fromUtf8(text);
    }
    return items;
}

// Selects entry and keeps it in view (the lists show fewer lines than they have items); -1 selects nothing.
void select_entry(QListWidget* list, int entry);

// The entry selected, -1 when none is.
int selected_entry(const QListWidget* list);

// The same for a drop-down list, the control of a choice of two or three.
void select_entry(QComboBox* combo, int entry);
int selected_entry(const QComboBox* combo);
