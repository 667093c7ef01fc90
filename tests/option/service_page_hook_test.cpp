// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/service_page.h"
#include "settings/settings_access.h"
#include "tests/setup/setup_test.h"

#include <QLineEdit>

namespace {

using OptionServicePageTest = SetupTest;

// The hook field shows the key as the file has it and its own 应用 writes that key alone: catches a field that
// starts empty over a stored hook, and an apply that also writes a request of the service buttons.
TEST_F(OptionServicePageTest, HookFieldShowsAndAppliesTheHookKeyAlone) {
    ini_put(kSectionSystem, "Hook", "/usr/bin/busylight --mirror");
    COptionServicePage page(nullptr);
    QLineEdit* hook = child<QLineEdit>(&page, "hook");
    EXPECT_EQ(hook->text(), QStringLiteral("/usr/bin/busylight --mirror"));
    hook->clear();
    type_text(hook, QStringLiteral("/home/taro/bin/灯 --all"));
    click(&page, "applyHook");
    EXPECT_EQ(stored_key(Key::Hook), "/home/taro/bin/灯 --all");
    EXPECT_EQ(stored_key(Key::Request), "<missing>");
}

} // namespace
