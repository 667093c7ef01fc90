// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/option_dlg.h"

#include "option/connection_page.h"
#include "option/sender_page.h"
#include "option/service_page.h"
#include "option/sound_page.h"

#include "kd5_version.h"

COptionDlg::COptionDlg() : TabWindow("corvo KD-5 lite option ver" KD5_VERSION " Chinese", CloseBox::ends_program) {
    add_page(" 特定邮件 ", new CSenderPage(tab_parent()));
    add_page(" 声音 ", new CSoundPage(tab_parent()));
    add_page(" 服务 ", new COptionServicePage(tab_parent()));
    add_page(" 连接 ", new CConnectionPage(tab_parent()));
    show_first_page();
    add_about_entry("kd5lite_op 的版本信息(&A)...", "kd5lite_op Version " KD5_VERSION " Chinese");
}
