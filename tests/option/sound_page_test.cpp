// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/file_dialog.h"
#include "gui/message_box.h"
#include "option/sound_page.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/setup/setup_test.h"
#include "tests/support/page_layout.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

namespace {

using SoundPageTest = SetupTest;

QLineEdit* sound(const CSoundPage& page, int account) {
    return child<QLineEdit>(&page, ("sound" + std::to_string(account + 1)).c_str());
}

void browse(const CSoundPage& page, int account, const QString& answer) {
    FileDialog::set_next_file_name(answer);
    click(&page, ("browse" + std::to_string(account + 1)).c_str());
}

// Makes the last message box read as none, so a test can tell whether the next action showed one.
void forget_last_message() {
    MessageBox::set_next_answer(QMessageBox::Ok);
    MessageBox::question(nullptr, "", "", QMessageBox::Ok);
}

} // namespace

// Catches a field written to another account, an emptied field left out of the write, and a check of the file
// that would drop a path to a file that is missing or no wave file.
TEST_F(SoundPageTest, PathsAreStoredAsShownWithoutChecks) {
    settings_put(Key::SoundFile, "/old/red.wav", 0);
    settings_put(Key::SoundFile, "/old/yellow.wav", 2);
    settings_clear();

    CSoundPage page(nullptr);
    EXPECT_EQ(sound(page, 0)->text(), "/old/red.wav");
    EXPECT_EQ(sound(page, 1)->text(), "");
    EXPECT_EQ(sound(page, 2)->text(), "/old/yellow.wav");

    sound(page, 0)->clear();
    QTest::keyClicks(sound(page, 1), "/no/such/file.mp3");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SoundFile, 0), "");
    EXPECT_EQ(stored_key(Key::SoundFile, 1), "/no/such/file.mp3");
    EXPECT_EQ(stored_key(Key::SoundFile, 2), "/old/yellow.wav");
}

// Notifications are on unless Notify is "0": catches an empty key (every older file) read as off, and a box written
// to another account.
TEST_F(SoundPageTest, NotifyBoxesAreOnUnlessSwitchedOff) {
    settings_put(Key::Notify, "0", 1);
    settings_clear();
    CSoundPage page(nullptr);
    auto box = [&](int account) { return child<QCheckBox>(&page, ("notify" + std::to_string(account)).c_str()); };
    EXPECT_TRUE(box(1)->isChecked());
    EXPECT_FALSE(box(2)->isChecked());
    EXPECT_TRUE(box(3)->isChecked());
    box(1)->setChecked(false);
    box(2)->setChecked(true);
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::Notify, 0), "0");
    EXPECT_EQ(stored_key(Key::Notify, 1), "1");
    EXPECT_EQ(stored_key(Key::Notify, 2), "1");
}

TEST_F(SoundPageTest, PathsTakeOneHundredTwentyEightTypedCharacters) {
    CSoundPage page(nullptr);
    const std::string full(128, 'p');
    QTest::keyClicks(sound(page, 1), QString::fromStdString(full + "q"));
    EXPECT_EQ(sound(page, 1)->text().toStdString(), full);
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SoundFile, 1), full);
}

// Each button keeps its own last choice and Cancel changes nothing: catches one shared memory for all buttons, a
// chooser opening on the field's text instead of its own last choice, and Cancel emptying the field.
TEST_F(SoundPageTest, BrowseFillsTheFieldAndRemembersTheChoicePerButton) {
    settings_put(Key::SoundFile, "/old/green.wav", 1);
    settings_clear();
    CSoundPage page(nullptr);

    browse(page, 1, ""); // Cancel on the first Browse of the run
    EXPECT_EQ(sound(page, 1)->text(), "/old/green.wav");
    EXPECT_EQ(FileDialog::last_start(), "");
    EXPECT_EQ(FileDialog::last_filter(), QString::fromUtf8("WAV 声音文件 (*.wav);;所有文件 (*)"));

    const QString bell = QString::fromStdString(corvo.path("bell.wav"));
    browse(page, 0, bell);
    EXPECT_EQ(sound(page, 0)->text(), bell);
    browse(page, 0, "");
    EXPECT_EQ(FileDialog::last_start(), bell) << "the chooser opens on the file last chosen with this button";
    EXPECT_EQ(sound(page, 0)->text(), bell);
    browse(page, 2, "");
    EXPECT_EQ(FileDialog::last_start(), "") << "another button's chooser opens empty";

    sound(page, 0)->clear();
    browse(page, 0, "");
    EXPECT_EQ(FileDialog::last_start(), bell) << "the button remembers its choice, not the field";
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SoundFile, 0), "");
    EXPECT_EQ(stored_key(Key::SoundFile, 1), "/old/green.wav");
}

// A path one byte too long for the settings field is refused with a message, never cut: a cut path names another
// file or none. One that just fits is taken without a word.
TEST_F(SoundPageTest, AChosenPathTooLongToStoreIsRefused) {
    settings_put(Key::SoundFile, "/old/red.wav", 0);
    settings_clear();
    CSoundPage page(nullptr);
    std::string dir = "/" + std::string(121, 'd') + "/";
    QString fits = QString::fromStdString(dir + "a.wav");    // 128 bytes
    QString longer = QString::fromStdString(dir + "ab.wav"); // 129 bytes
    ASSERT_EQ(fits.toUtf8().size(), 128);

    forget_last_message();
    MessageBox::set_next_answer(QMessageBox::Ok);
    browse(page, 0, longer);
    EXPECT_EQ(MessageBox::last_text().toStdString(), CSoundPage::overlong_path_message());
    EXPECT_NE(CSoundPage::overlong_path_message().find("128"), std::string::npos);
    EXPECT_EQ(sound(page, 0)->text(), "/old/red.wav");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SoundFile, 0), "/old/red.wav");

    forget_last_message();
    MessageBox::set_next_answer(QMessageBox::Ok); // answers a wrongly shown box instead of hanging the test
    browse(page, 0, fits);
    MessageBox::set_next_answer(QMessageBox::NoButton);
    EXPECT_EQ(MessageBox::last_text(), "");
    EXPECT_EQ(sound(page, 0)->text(), fits);
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::SoundFile, 0), fits.toStdString());
}

// Types a name into the chooser's name field, as a user would. selectFile() leaves the field alone once it has the
// focus, which the offscreen platform gives it at a moment of its own: the accept then had no name to refuse.
namespace {
void type_name(QFileDialog* chooser, const QString& name) {
    auto* field = chooser->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(field, nullptr);
    field->setText(name);
}
} // namespace

// The desktop's own chooser, driven as a user would: catches a chooser without the two filters, one that hands
// back a file that does not exist, and a path that is not the full one.
TEST_F(SoundPageTest, BrowseUsesTheDesktopChooserForAnExistingFile) {
    corvo.write("bell.wav", "RIFF");
    const QString bell = QString::fromStdString(corvo.path("bell.wav"));
    const QString missing = QString::fromStdString(corvo.path("missing.wav"));
    CSoundPage page(nullptr);
    page.show();

    QStringList filters;
    bool missing_refused = false;
    int step = 0;
    QDeadlineTimer deadline(10000);
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (deadline.hasExpired()) {
            driver.stop();
            if (modal != nullptr) {
                modal->close();
            }
            return;
        }
        auto* chooser = qobject_cast<QFileDialog*>(modal);
        if (step == 0 && chooser != nullptr && chooser->isVisible()) {
            filters = chooser->nameFilters();
            EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFile);
            type_name(chooser, missing);
            // Queued, so the chooser's complaint runs in a loop of its own while this timer keeps firing.
            QMetaObject::invokeMethod(chooser, "accept", Qt::QueuedConnection);
            step = 1;
        } else if (step == 1 && qobject_cast<QMessageBox*>(modal) != nullptr) {
            missing_refused = true;
            modal->close();
            step = 2;
        } else if (step == 2 && chooser != nullptr) {
            type_name(chooser, bell);
            QMetaObject::invokeMethod(chooser, "accept", Qt::QueuedConnection);
            driver.stop();
        }
    });
    driver.start();
    click(&page, "browse3");

    EXPECT_FALSE(deadline.hasExpired()) << "the chooser was not answered";
    EXPECT_EQ(filters, QStringList({QString::fromUtf8("WAV 声音文件 (*.wav)"), QString::fromUtf8("所有文件 (*)")}));
    EXPECT_TRUE(missing_refused);
    EXPECT_EQ(sound(page, 2)->text(), bell);
}

// The quiet time is two times of day or none: catches a time the notifier could not read stored (it would then
// keep no quiet at all, without a word), one half of it stored alone, and the other settings lost with a refusal.
TEST_F(SoundPageTest, QuietTimeIsTwoTimesOfDayOrNone) {
    settings_put(Key::QuietStart, "22:00");
    settings_put(Key::QuietEnd, "07:00");
    settings_clear();
    CSoundPage page(nullptr);
    auto field = [&](const char* name) { return child<QLineEdit>(&page, name); };
    EXPECT_EQ(field("quietstart")->text(), "22:00");
    EXPECT_EQ(field("quietend")->text(), "07:00");
    expect_page_fits(&page);
    const struct {
        const char* start;
        const char* end;
        bool stored;
    } rows[] = {
        {"23:30", "6:45", true}, {"", "", true},      {"22:00", "", false},
        {"25:00", "07:00", false}, {"22.00", "07:00", false}, {"08:00", "08:00", true},
    };
    for (const auto& r : rows) {
        settings_put(Key::QuietStart, "x");
        settings_put(Key::QuietEnd, "x");
        field("quietstart")->setText(QString::fromUtf8(r.start));
        field("quietend")->setText(QString::fromUtf8(r.end));
        forget_last_message();
        MessageBox::set_next_answer(QMessageBox::Ok);
        click(&page, "apply");
        EXPECT_EQ(stored_key(Key::QuietStart), r.stored ? r.start : "x") << r.start << "-" << r.end;
        EXPECT_EQ(stored_key(Key::QuietEnd), r.stored ? r.end : "x") << r.start << "-" << r.end;
        EXPECT_EQ(MessageBox::last_text().toStdString(), r.stored ? "" : CSoundPage::quiet_time_message());
    }
    MessageBox::set_next_answer(QMessageBox::NoButton);
}
