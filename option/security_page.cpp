#include "option/security_page.h"

#include "gui/byte_limit.h"
#include "option/list_entry.h"
#include "option/option_values.h"
#include "settings/settings_access.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <string>

namespace {

constexpr int kGroupStep = 52;
constexpr int kFingerprintLimit = 95; // 32 hex pairs and the colons between them, as the error log shows it
constexpr const char* kCaptions[kAccountCount] = {"第1个", "第2个", "第3个"};
constexpr Key kKeys[] = {Key::Security, Key::TlsFingerprint};

} // namespace

CSecurityPage::CSecurityPage(QWidget* parent) : Page(parent, 3) {
    add_static("选项功能（加密连接）", 7, 7, 186, 8);
    for (int i = 0; i < kAccountCount; ++i) {
        const int y = 17 + kGroupStep * i;
        const std::string number = std::to_string(i + 1);
        add_group(kCaptions[i], 7, y, 186, 50);
        add_static("方　式", 13, y + 12, 24, 8);
        rows_[i].security = add_list(("security" + number).c_str(), list_items(kSecurityItems), 40, y + 9, 60, 26);
        add_static("指　纹", 13, y + 38, 24, 8);
        rows_[i].fingerprint = add_edit(("fingerprint" + number).c_str(), 40, y + 36, 146, 12, kFingerprintLimit);
    }
    add_static("自签名证书可填写其SHA-256指纹", 7, 177, 129, 8);
    QPushButton* apply_button = add_button("apply", "应　　用", 143, 179, 50, 14);

    for (int i = 0; i < kAccountCount; ++i) {
        for (Key key : kKeys) {
            ini_read_key(key, i);
        }
    }
    for (int i = 0; i < kAccountCount; ++i) {
        select_entry(rows_[i].security, security_entry(settings_get(Key::Security, i).c_str()));
        set_edit_text(rows_[i].fingerprint, settings_get(Key::TlsFingerprint, i));
    }

    on_click_saving(apply_button, [this] { apply(); });
}

void CSecurityPage::apply() {
    // No item chosen is stored as -1, which the mail check refuses rather than connect in clear.
    for (int i = 0; i < kAccountCount; ++i) {
        settings_set(Key::Security, std::to_string(selected_entry(rows_[i].security)).c_str(), i);
        settings_set(Key::TlsFingerprint, edit_text(rows_[i].fingerprint).c_str(), i);
    }
    for (int i = 0; i < kAccountCount; ++i) {
        for (Key key : kKeys) {
            ini_write_key(key, i);
        }
    }
    update();
}
