// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "settings/settings.h"

#include <QString>
#include <string>

class QCheckBox;
class QLineEdit;

// Tab " 声音 ": the wave file the notifier plays for each account's new mail when the buzzer is set to 0 seconds.
// A path is typed or chosen with the account's Browse button, which remembers the file it last chose.
//
// Below them, per account, whether new mail brings a desktop notification, and the quiet time of day, "HH:MM" to
// "HH:MM" (an end before the start runs over midnight; both empty for none), while which nothing sounds.
//
// Controls: "sound<account>", "browse<account>", "notify<account>" (account 1 to 3), "quietstart", "quietend",
// "apply".
class CSoundPage : public Page {
    Q_OBJECT
public:
    explicit CSoundPage(QWidget* parent);

    void apply();
    void browse(int account);

    // The refusal shown for a chosen path too long to store.
    static std::string overlong_path_message();
    // The refusal shown for a quiet time that is not two times of day (nothing is stored then).
    static std::string quiet_time_message();

private:
    struct SoundRow {
        QLineEdit* path;
        QCheckBox* notify;
        QString chosen; // the file last chosen with this row's Browse button, where its chooser opens next
    };

    SoundRow rows_[kAccountCount];
    QLineEdit* quiet_start_ = nullptr;
    QLineEdit* quiet_end_ = nullptr;
};
