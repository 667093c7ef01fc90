// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/connection_page.h"

#include "gui/byte_limit.h"
#include "option/fingerprint_edit.h"
#include "option/list_entry.h"
#include "option/option_values.h"
#include "settings/account_secret.h"
#include "settings/keys.h"
#include "settings/settings_access.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace {

constexpr int kGroupStep = 52;
constexpr int kFingerprintLimit = 95; // 32 hex pairs and the colons between them, as the error log shows it
constexpr const char* kCaptions[kAccountCount] = {"第1个", "第2个", "第3个"};
constexpr Key kKeys[] = {Key::Protocol, Key::Security, Key::Folder, Key::TlsFingerprint};

std::string named(const char* control, int account) {
    return control + std::to_string(account + 1);
}

} // namespace

QComboBox* CConnectionPage::add_choice(const char* name, const QStringList& items, int x, int y, int width,
                                       int height) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(QString::fromUtf8(name));
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setGeometry(units().rect(x, y, width, height));
    return combo;
}

CConnectionPage::CConnectionPage(QWidget* parent) : Page(parent, 3) {
    // The header line names the columns of the first row of every account.
    add_static("协　议", 13, 7, 24, 8);
    add_static("方　式", 62, 7, 24, 8);
    add_static("文件夹", 126, 7, 24, 8);
    const int folder_limit = static_cast<int>(key_field(Key::Folder).size) - 1;
    for (int i = 0; i < kAccountCount; ++i) {
        const int y = 17 + kGroupStep * i;
        add_group(kCaptions[i], 7, y, 186, 50);
        rows_[i].protocol = add_choice(named("protocol", i).c_str(), list_items(kProtocolItems), 13, y + 9, 46, 12);
        rows_[i].security = add_choice(named("security", i).c_str(), list_items(kSecurityItems), 62, y + 9, 60, 12);
        rows_[i].folder = add_edit(named("folder", i).c_str(), 126, y + 9, 60, 12, folder_limit);
        rows_[i].folder->setPlaceholderText(QStringLiteral("INBOX"));
        add_static("指　纹", 13, y + 27, 24, 8);
        rows_[i].fingerprint = new FingerprintEdit(this, kFingerprintLimit);
        rows_[i].fingerprint->setObjectName(QString::fromStdString(named("fingerprint", i)));
        rows_[i].fingerprint->setGeometry(units().rect(40, y + 23, 146, 24));
    }
    add_static("自签名证书可填写其SHA-256指纹", 7, 177, 129, 8);
    QPushButton* apply_button = add_button("apply", "应　　用", 143, 179, 50, 14);

    for (int i = 0; i < kAccountCount; ++i) {
        for (Key key : kKeys) {
            ini_read_key(key, i);
        }
    }
    for (int i = 0; i < kAccountCount; ++i) {
        select_entry(rows_[i].protocol, protocol_entry(settings_get(Key::Protocol, i).c_str()));
        select_entry(rows_[i].security, security_entry(settings_get(Key::Security, i).c_str()));
        set_edit_text(rows_[i].folder, settings_get(Key::Folder, i));
        rows_[i].fingerprint->set_text(settings_get(Key::TlsFingerprint, i));
    }

    on_click_saving(apply_button, [this] { apply(); });
}

void CConnectionPage::apply() {
    // The protocol is part of what the keyring files an account's password under: the account as the file has it
    // now, so its items can follow a changed protocol.
    SecretKey before[kAccountCount];
    for (int i = 0; i < kAccountCount; ++i) {
        ini_read_keys({Key::ServerName, Key::ID, Key::Protocol, Key::SecretStore}, i);
        before[i] = account_secret_key(i);
    }
    // No item chosen is stored as -1, which the mail check refuses rather than guess a protocol or connect in
    // clear.
    for (int i = 0; i < kAccountCount; ++i) {
        settings_set(Key::Protocol, std::to_string(selected_entry(rows_[i].protocol)).c_str(), i);
        settings_set(Key::Security, std::to_string(selected_entry(rows_[i].security)).c_str(), i);
        settings_set(Key::Folder, edit_text(rows_[i].folder).c_str(), i);
        settings_set(Key::TlsFingerprint, rows_[i].fingerprint->text().c_str(), i);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        bool written = true;
        for (Key key : kKeys) {
            written = ini_write_key(key, i) == 0 && written;
        }
        if (written) {
            refile_account_secrets(i, before[i]);
        }
    }
    update();
}
