// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/setup_dlg.h"

#include "setup/accounts_page.h"
#include "setup/log_page.h"
#include "setup/service_page.h"
#include "setup/system_page.h"
#include "setup/test_page.h"
#include "setup/version_page.h"

#include "kd5_version.h"

CSetupDlg::CSetupDlg() : TabWindow("corvo KD-5 lite application ver" KD5_VERSION " Chinese", CloseBox::shown) {
    add_page(" 系统 ", new CSystemPage(tab_parent()));
    add_page(" 账户 ", new CAccountsPage(tab_parent()));
    add_page(" 日志 ", new CLogPage(tab_parent()));
    add_page(" 服务 ", new CServicePage(tab_parent()));
    add_page(" 测试 ", new CTestPage(tab_parent()));
    add_page(" 版本 ", new CVersionPage(tab_parent()));
    show_first_page();
    add_about_entry("kd5lite_ap 的版本信息(&A)...", "kd5lite_ap Version " KD5_VERSION " Chinese");
}
