#include "gui/service_page.h"

#include "gui/service_state.h"

#include <QLineEdit>
#include <QPushButton>

ServicePage::ServicePage(QWidget* parent, int trace_number, const Note& note) : Page(parent, trace_number) {
    add_group("服务状态", 7, 7, 186, 41);
    QPushButton* refresh = add_button("refresh", "运行扫描", 18, 18, 50, 14);
    state_ = add_edit("state", 74, 19, 100, 12, 32, EditStyle::read_only);
    add_centred("( 工作中（邮件检查中）/停止中/故障中 )", 13, 35, 174, 8);
    add_group("服务操作", 7, 52, 186, 45);
    add_static("进行邮件检查服务的操作", 13, 63, 174, 8);
    QPushButton* start = add_button("start", "开始使用", 37, 75, 50, 14);
    QPushButton* stop = add_button("stop", "停止使用", 109, 75, 50, 14);
    for (std::size_t line = 0; line < note.size(); ++line) {
        add_static(note[line], 7, 102 + 12 * static_cast<int>(line), 186, 8);
    }
    add_static("＊进行邮件检查服务的操作", 7, 185, 115, 8);

    connect(refresh, &QPushButton::clicked, this, &ServicePage::refresh_state);
    on_click_saving(start, [] { write_request(kRequestMonitor); });
    on_click_saving(stop, [] { write_request(kRequestStop); });
    refresh_state();
}

void ServicePage::refresh_state() {
    state_->setText(QString::fromUtf8(read_service_state()));
}
