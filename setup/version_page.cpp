// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/version_page.h"

#include "gui/byte_limit.h"
#include "gui/desktop.h"
#include "settings/settings_access.h"

#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

CVersionPage::CVersionPage(QWidget* parent) : Page(parent, 7) {
    add_group("版本", 7, 7, 186, 27);
    QLineEdit* version = add_edit("version", 46, 17, 100, 12, key_width(Key::Version), EditStyle::read_only);
    add_centred("产品信息", 13, 39, 172, 8);
    add_static("公司", 28, 54, 30, 8);
    QLineEdit* company = add_edit("company", 65, 52, 100, 12, key_width(Key::Company), EditStyle::read_only);
    add_static("商标", 28, 69, 30, 8);
    QLineEdit* brand = add_edit("brand", 65, 67, 100, 12, key_width(Key::Brand), EditStyle::read_only);
    add_static("产品", 28, 84, 30, 8);
    QLineEdit* product = add_edit("product", 65, 82, 100, 12, key_width(Key::Product), EditStyle::read_only);
    add_static("类型", 28, 99, 30, 8);
    QLineEdit* type = add_edit("type", 65, 97, 100, 12, key_width(Key::Type), EditStyle::read_only);
    add_static("本公司网页", 7, 117, 186, 8);
    add_centred(kMakerWebPage, 7, 128, 186, 8);
    add_static("公开更新情况，软件版本信息，产品详情等。敬请浏览。", 7, 140, 186, 8);
    QPushButton* visit = add_button("visit", "访问corvo 站点", 15, 153, 170, 14);
    add_static("＊ 进行版本信息的确认", 7, 185, 186, 8);

    const std::pair<Key, QLineEdit*> fields[] = {{Key::Version, version},
                                                 {Key::Company, company},
                                                 {Key::Brand, brand},
                                                 {Key::Product, product},
                                                 {Key::Type, type}};
    for (const auto& [key, edit] : fields) {
        ini_read_key(key);
    }
    for (const auto& [key, edit] : fields) {
        set_edit_text(edit, settings_get(key));
    }

    connect(visit, &QPushButton::clicked, [] { open_with_desktop(QUrl(QLatin1String(kMakerWebPage))); });
}
