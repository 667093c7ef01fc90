// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/list_entry.h"

#include <QComboBox>
#include <QListWidget>

void select_entry(QListWidget* list, int entry) {
    if (entry < 0) {
        return;
    }
    list->setCurrentRow(entry);
    list->scrollToItem(list->item(entry));
}

int selected_entry(const QListWidget* list) {
    QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.front());
}

void select_entry(QComboBox* combo, int entry) {
    combo->setCurrentIndex(entry < combo->count() ? entry : -1);
}

int selected_entry(const QComboBox* combo) {
    return combo->currentIndex();
}
