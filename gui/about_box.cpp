// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/about_box.h"

#include "gui/dialog_units.h"

#include "kd5_version.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

QIcon tool_icon() {
    // The icon is a resource of this static library: nothing refers to the resource's own object file, so the
    // linker leaves it out unless it is named here.
    Q_INIT_RESOURCE(gui);
    return QIcon(QStringLiteral(":/kd5lite/icon.png"));
}

CAboutDlg::CAboutDlg(QWidget* parent, const char* line)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    DialogUnits units = DialogUnits::of(font());
    setWindowTitle(QStringLiteral("ver " KD5_VERSION " Chinese"));
    setFixedSize(units.x(235), units.y(55));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    QRect icon_box = units.rect(11, 17, 20, 20);
    icon->setGeometry(icon_box);
    int side = std::min(icon_box.width(), icon_box.height());
    icon->setPixmap(tool_icon().pixmap(side, side));

    auto* text = new QLabel(QString::fromUtf8(line), this);
    text->setObjectName(QStringLiteral("line"));
    text->setTextFormat(Qt::PlainText);
    text->setGeometry(units.rect(40, 10, 119, 8));

    // The licence the programs are given under, as the package's copyright file and LICENSE state it in full.
    auto* licence = new QLabel(QString::fromUtf8(kLicenceLine), this);
    licence->setObjectName(QStringLiteral("licence"));
    licence->setTextFormat(Qt::PlainText);
    licence->setWordWrap(true);
    licence->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    licence->setGeometry(units.rect(40, 22, 188, 28));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setGeometry(units.rect(178, 7, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
