// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "logging/log.h"
#include "settings/keys.h"

class QCheckBox;
class QListWidget;

// Tab " 日志 ": switches the state and error logs on or off, opens one day's file of either in the desktop's
// viewer, and deletes all files of a family.
class CLogPage : public Page {
    Q_OBJECT
public:
    explicit CLogPage(QWidget* parent);

    void apply();

    struct FamilyTemplate;

private:
    struct Family {
        Key key;
        LogKind kind;
        const char* clear_question;
        QCheckBox* enabled;
        QListWidget* days;
    };

    void add_family(Family& family, const FamilyTemplate& t);
    void view(const Family& family);
    void clear(const Family& family);

    Family run_log_;
    Family error_log_;
};
