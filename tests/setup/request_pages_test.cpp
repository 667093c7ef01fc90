// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/desktop.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "setup/test_page.h"
#include "setup/version_page.h"
#include "tests/setup/setup_test.h"

#include <QLabel>
#include <QLineEdit>
#include <QUrl>

namespace {
using RequestPagesTest = SetupTest;
} // namespace

TEST_F(RequestPagesTest, TestPageShowsTheSerialAndWritesItsRequests) {
    settings_put(Key::SerialNumber, "K5L-7");
    settings_clear();
    CTestPage page(nullptr);
    QLineEdit* serial = child<QLineEdit>(&page, "serial");
    EXPECT_EQ(serial->text(), "K5L-7");
    EXPECT_TRUE(serial->isReadOnly());

    click(&page, "testStart");
    EXPECT_EQ(stored_key(Key::Request), "2");
    settings_put(Key::Request, "0");
    click(&page, "testStart"); // each press writes again
    EXPECT_EQ(stored_key(Key::Request), "2");
    click(&page, "testEnd");
    EXPECT_EQ(stored_key(Key::Request), "4");
}

TEST_F(RequestPagesTest, VersionPageShowsTheIdentityAndOpensTheMakersPage) {
    const std::pair<Key, const char*> values[] = {{Key::Version, "Ver 2.20.2"},
                                                  {Key::Company, "KESTREL CO.,LTD."},
                                                  {Key::Brand, "corvo"},
                                                  {Key::Product, "KD-5"},
                                                  {Key::Type, "lite2"}};
    for (const auto& [key, value] : values) {
        settings_put(key, value);
    }
    settings_clear();
    const std::string file_before = corvo.read("corvo_kd5lite.ini");

    std::vector<QUrl> opened;
    set_desktop_opener([&](const QUrl& url) { opened.push_back(url); });
    CVersionPage page(nullptr);
    const char* names[] = {"version", "company", "brand", "product", "type"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        QLineEdit* field = child<QLineEdit>(&page, names[i]);
        EXPECT_EQ(field->text().toStdString(), values[i].second);
        EXPECT_TRUE(field->isReadOnly());
    }
    click(&page, "visit");
    set_desktop_opener({});

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString().toStdString(), kMakerWebPage);
    bool shown = false;
    for (QLabel* label : page.findChildren<QLabel*>()) {
        shown = shown || label->text() == QLatin1String(kMakerWebPage);
    }
    EXPECT_TRUE(shown) << "the address opened is the address shown";
    EXPECT_EQ(corvo.read("corvo_kd5lite.ini"), file_before);
}
