// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/status_notifier_item.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>

QDBusArgument& operator<<(QDBusArgument& a, const SniPixmap& p) {
    a.beginStructure();
    a << p.width << p.height << p.argb;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, SniPixmap& p) {
    a.beginStructure();
    a >> p.width >> p.height >> p.argb;
    a.endStructure();
    return a;
}

namespace {

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

const char kIntrospection[] = R"xml(  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
)xml";

const char* const kPropertyNames[] = {"Category",        "Id",           "Title",
                                      "Status",          "WindowId",     "IconThemePath",
                                      "IconName",        "IconPixmap",   "OverlayIconName",
                                      "OverlayIconPixmap", "AttentionIconName", "AttentionIconPixmap",
                                      "AttentionMovieName", "ToolTip",   "ItemIsMenu",
                                      "Menu"};

// A tooltip's text may hold a subset of markup (the protocol's "Markup" section): the tip's own characters stay
// characters, and its lines become line breaks.
QString tooltip_markup(const QString& text) {
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br/>"));
}

} // namespace

QList<SniPixmap> sni_pixmaps(const TrayIconState& state) {
    QList<SniPixmap> pixmaps;
    for (int size : kTraySizes) {
        const QImage image = tray_image(state, size).convertToFormat(QImage::Format_ARGB32);
        SniPixmap p{image.width(), image.height(), {}};
        p.argb.reserve(image.width() * image.height() * 4);
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = line[x];
                p.argb.append(static_cast<char>(qAlpha(c)));
                p.argb.append(static_cast<char>(qRed(c)));
                p.argb.append(static_cast<char>(qGreen(c)));
                p.argb.append(static_cast<char>(qBlue(c)));
            }
        }
        pixmaps.push_back(std::move(p));
    }
    return pixmaps;
}

StatusNotifierItem::StatusNotifierItem(QMenu& menu, std::function<void()> refresh_menu, QObject* parent)
    : QDBusVirtualObject(parent), menu_(new DBusMenuExport(menu, std::move(refresh_menu), this)),
      service_(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid())) {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<QList<SniPixmap>>();
    pixmaps_ = QVariant::fromValue(sni_pixmaps(icon_state_));
}

bool StatusNotifierItem::start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!started_) {
        if (!bus.registerVirtualObject(kItemPath, this) ||
            !bus.registerVirtualObject(QString::fromLatin1(kDBusMenuPath), menu_)) {
            return false;
        }
        started_ = true;
        // Asynchronous, as every call of the notifier's window thread: a bus that falls silent later holds nothing.
        QDBusMessage name = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
        name << service_ << 4u; // DBUS_NAME_FLAG_DO_NOT_QUEUE
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(name), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            register_with_watcher();
        });
        return true;
    }
    register_with_watcher();
    return true;
}

void StatusNotifierItem::register_with_watcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, kWatcherPath, kWatcher,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    QDBusConnection::sessionBus().asyncCall(call);
}

void StatusNotifierItem::emit_signal(const char* name, const QVariantList& args) {
    if (!started_) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(kItemPath, kItemInterface, QString::fromLatin1(name));
    signal.setArguments(args);
    QDBusConnection::sessionBus().send(signal);
}

void StatusNotifierItem::set_icon(const TrayIconState& state) {
    if (icon_set_ && state == icon_state_) {
        return;
    }
    icon_set_ = true;
    icon_state_ = state;
    pixmaps_ = QVariant::fromValue(sni_pixmaps(state));
    emit_signal("NewIcon");
}

void StatusNotifierItem::set_tooltip(const QString& title, const QString& text) {
    if (title == title_ && text == text_) {
        return;
    }
    title_ = title;
    text_ = text;
    emit_signal("NewToolTip");
}

void StatusNotifierItem::set_status(const QString& status) {
    if (status == status_) {
        return;
    }
    status_ = status;
    emit_signal("NewStatus", {status_});
}

QVariant StatusNotifierItem::value_of(const QString& name) const {
    const QString none;
    if (name == QLatin1String("Category")) {
        return QStringLiteral("Communications");
    }
    if (name == QLatin1String("Id")) {
        return QStringLiteral("kd5lite");
    }
    if (name == QLatin1String("Title")) {
        return title_.isEmpty() ? QStringLiteral("kd5lite") : title_;
    }
    if (name == QLatin1String("Status")) {
        return status_;
    }
    if (name == QLatin1String("WindowId")) {
        return 0;
    }
    if (name == QLatin1String("IconPixmap")) {
        return pixmaps_;
    }
    if (name == QLatin1String("OverlayIconPixmap") || name == QLatin1String("AttentionIconPixmap")) {
        return QVariant::fromValue(QList<SniPixmap>());
    }
    if (name == QLatin1String("IconThemePath") || name == QLatin1String("IconName") ||
        name == QLatin1String("OverlayIconName") || name == QLatin1String("AttentionIconName") ||
        name == QLatin1String("AttentionMovieName")) {
        return none;
    }
    if (name == QLatin1String("ToolTip")) {
        QDBusArgument tip;
        tip.beginStructure();
        tip << none << QList<SniPixmap>() << title_ << tooltip_markup(text_);
        tip.endStructure();
        return QVariant::fromValue(tip);
    }
    if (name == QLatin1String("ItemIsMenu")) {
        return true;
    }
    if (name == QLatin1String("Menu")) {
        return QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kDBusMenuPath)));
    }
    return {};
}

bool StatusNotifierItem::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) {
        return false;
    }
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (message.interface() == kProperties) {
        if (member == QLatin1String("GetAll")) {
            QVariantMap all;
            for (const char* name : kPropertyNames) {
                all.insert(QLatin1String(name), value_of(QLatin1String(name)));
            }
            connection.send(message.createReply(QVariant::fromValue(all)));
        } else if (member == QLatin1String("Get") && args.size() == 2 && value_of(args[1].toString()).isValid()) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value_of(args[1].toString())))));
        } else {
            connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such property")));
        }
        return true;
    }
    if (member == QLatin1String("ContextMenu") && args.size() == 2) {
        emit context_menu_requested(QPoint(args[0].toInt(), args[1].toInt()));
    }
    // Activate, SecondaryActivate and Scroll: the item is a menu, and the host shows it.
    connection.send(message.createReply());
    return true;
}

QString StatusNotifierItem::introspect(const QString&) const {
    return QString::fromLatin1(kIntrospection);
}
