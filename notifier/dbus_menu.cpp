// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/dbus_menu.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>
#include <QTimer>

namespace {

const QString kInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

const char kIntrospection[] = R"xml(  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps" direction="out"/>
      <arg type="a(ias)" name="removedProps" direction="out"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision" direction="out"/>
      <arg type="i" name="parent" direction="out"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id" direction="out"/>
      <arg type="u" name="timestamp" direction="out"/>
    </signal>
  </interface>
)xml";

// A label as dbusmenu writes it: "_" marks the access key, so a literal one is doubled; Qt's "&" becomes "_".
QString label_of(QString text) {
    text.replace(QLatin1Char('_'), QLatin1String("__"));
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            out += text[i + 1] == QLatin1Char('&') ? QStringLiteral("&") : QStringLiteral("_") + text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Only what differs from the defaults of the protocol (standard type, enabled, visible) is sent.
QVariantMap action_properties(const QAction& action) {
    QVariantMap p;
    if (action.isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        p.insert(QStringLiteral("label"), label_of(action.text()));
    }
    if (!action.isEnabled()) {
        p.insert(QStringLiteral("enabled"), false);
    }
    if (!action.isVisible()) {
        p.insert(QStringLiteral("visible"), false);
    }
    if (action.menu() != nullptr) {
        p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    return p;
}

QList<int> int_list(const QVariant& v) {
    return qdbus_cast<QList<int>>(v);
}

// (ia{sv}): an item's id and properties, as GetGroupProperties answers.
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

} // namespace

Q_DECLARE_METATYPE(MenuItemProperties)

namespace {

QDBusArgument& operator<<(QDBusArgument& a, const MenuItemProperties& item) {
    a.beginStructure();
    a << item.id << item.properties;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, MenuItemProperties& item) {
    a.beginStructure();
    a >> item.id >> item.properties;
    a.endStructure();
    return a;
}

} // namespace

DBusMenuExport::DBusMenuExport(QMenu& menu, std::function<void()> refresh, QObject* parent)
    : QDBusVirtualObject(parent), menu_(menu), refresh_(std::move(refresh)) {
    qDBusRegisterMetaType<MenuItemProperties>();
    qDBusRegisterMetaType<QList<MenuItemProperties>>();
    root_ = node_of(menu_, 0);
}

int DBusMenuExport::id_of(QAction* action) {
    auto found = ids_.find(action);
    if (found != ids_.end()) {
        return *found;
    }
    const int id = next_id_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    return id;
}

DBusMenuExport::Node DBusMenuExport::node_of(QMenu& menu, int id) {
    Node node;
    node.id = id;
    if (id == 0) {
        node.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    for (QAction* action : menu.actions()) {
        Node child;
        if (action->menu() != nullptr) {
            child = node_of(*action->menu(), id_of(action));
        } else {
            child.id = id_of(action);
        }
        child.properties = action_properties(*action);
        node.children.push_back(std::move(child));
    }
    return node;
}

void DBusMenuExport::changed() {
    Node now = node_of(menu_, 0);
    if (now == root_) {
        return;
    }
    root_ = std::move(now);
    ++revision_;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kDBusMenuPath), kInterface,
                                                     QStringLiteral("LayoutUpdated"));
    signal << revision_ << 0;
    QDBusConnection::sessionBus().send(signal);
}

const DBusMenuExport::Node* DBusMenuExport::find(const Node& from, int id) const {
    if (from.id == id) {
        return &from;
    }
    for (const Node& child : from.children) {
        if (const Node* found = find(child, id)) {
            return found;
        }
    }
    return nullptr;
}

QVariantMap DBusMenuExport::properties_of(const Node& node, const QStringList& names) const {
    if (names.isEmpty()) {
        return node.properties;
    }
    QVariantMap some;
    for (const QString& name : names) {
        if (node.properties.contains(name)) {
            some.insert(name, node.properties.value(name));
        }
    }
    return some;
}

// (ia{sv}av): the item, its properties, and its children as variants of the same structure, depth levels deep
// (-1: all of them).
QVariant DBusMenuExport::layout(const Node& node, int depth, const QStringList& names) const {
    QDBusArgument arg;
    arg.beginStructure();
    arg << node.id << properties_of(node, names);
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    if (depth != 0) {
        for (const Node& child : node.children) {
            arg << QDBusVariant(layout(child, depth - 1, names));
        }
    }
    arg.endArray();
    arg.endStructure();
    return QVariant::fromValue(arg);
}

void DBusMenuExport::activate(int id) {
    QPointer<QAction> action = actions_.value(id);
    // After the answer has gone: an entry may open a box that runs an event loop of its own.
    QTimer::singleShot(0, this, [action] {
        if (action != nullptr && action->isEnabled() && action->menu() == nullptr) {
            action->trigger();
        }
    });
}

QDBusMessage DBusMenuExport::property_answer(const QDBusMessage& call) const {
    const QString member = call.member();
    const QList<QVariant> args = call.arguments();
    auto value = [](const QString& name) -> QVariant {
        if (name == QLatin1String("Version")) {
            return 3u;
        }
        if (name == QLatin1String("TextDirection")) {
            return QStringLiteral("ltr");
        }
        if (name == QLatin1String("Status")) {
            return QStringLiteral("normal");
        }
        if (name == QLatin1String("IconThemePath")) {
            return QStringList();
        }
        return {};
    };
    if (member == QLatin1String("GetAll")) {
        QVariantMap all;
        for (const char* name : {"Version", "TextDirection", "Status", "IconThemePath"}) {
            all.insert(QLatin1String(name), value(QLatin1String(name)));
        }
        return call.createReply(QVariant::fromValue(all));
    }
    if (member == QLatin1String("Get") && args.size() == 2 && value(args[1].toString()).isValid()) {
        return call.createReply(QVariant::fromValue(QDBusVariant(value(args[1].toString()))));
    }
    return call.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such property"));
}

QDBusMessage DBusMenuExport::answer(const QDBusMessage& call) {
    const QString member = call.member();
    const QList<QVariant> args = call.arguments();
    if (member == QLatin1String("GetLayout") && args.size() == 3) {
        const Node* node = find(root_, args[0].toInt());
        if (node == nullptr) {
            return call.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such item"));
        }
        served_ = revision_;
        return call.createReply({revision_, layout(*node, args[1].toInt(), qdbus_cast<QStringList>(args[2]))});
    }
    if (member == QLatin1String("GetGroupProperties") && args.size() == 2) {
        const QStringList names = qdbus_cast<QStringList>(args[1]);
        QList<MenuItemProperties> items;
        for (int id : int_list(args[0])) {
            if (const Node* node = find(root_, id)) {
                items.push_back({id, properties_of(*node, names)});
            }
        }
        return call.createReply(QVariant::fromValue(items));
    }
    if (member == QLatin1String("EventGroup") && args.size() == 1) {
        QList<int> unknown;
        const QDBusArgument events = args[0].value<QDBusArgument>();
        events.beginArray();
        while (!events.atEnd()) {
            int id = 0;
            QString event;
            QDBusVariant data;
            uint timestamp = 0;
            events.beginStructure();
            events >> id >> event >> data >> timestamp;
            events.endStructure();
            if (find(root_, id) == nullptr) {
                unknown.push_back(id);
            } else if (event == QLatin1String("clicked")) {
                activate(id);
            }
        }
        events.endArray();
        return call.createReply(QVariant::fromValue(unknown));
    }
    if (member == QLatin1String("AboutToShowGroup") && args.size() == 1) {
        refresh_();
        changed();
        QList<int> need;
        QList<int> unknown;
        for (int id : int_list(args[0])) {
            (find(root_, id) == nullptr ? unknown : need).push_back(id);
        }
        if (served_ == revision_) {
            need.clear();
        }
        return call.createReply({QVariant::fromValue(need), QVariant::fromValue(unknown)});
    }
    if (member == QLatin1String("GetProperty") && args.size() == 2) {
        const Node* node = find(root_, args[0].toInt());
        if (node == nullptr || !node->properties.contains(args[1].toString())) {
            return call.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such item or property"));
        }
        return call.createReply(QVariant::fromValue(QDBusVariant(node->properties.value(args[1].toString()))));
    }
    if (member == QLatin1String("Event") && args.size() == 4) {
        if (args[1].toString() == QLatin1String("clicked")) {
            activate(args[0].toInt());
        } else if (args[1].toString() == QLatin1String("opened") && args[0].toInt() == 0) {
            refresh_();
            changed();
        }
        return call.createReply();
    }
    if (member == QLatin1String("AboutToShow") && args.size() == 1) {
        refresh_();
        changed();
        return call.createReply(QVariant(served_ != revision_));
    }
    return call.createErrorReply(QDBusError::UnknownMethod, QStringLiteral("no such method"));
}

bool DBusMenuExport::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) {
        return false;
    }
    if (message.interface() == kProperties) {
        connection.send(property_answer(message));
        return true;
    }
    if (message.interface() != kInterface && !message.interface().isEmpty()) {
        return false;
    }
    connection.send(answer(message));
    return true;
}

QString DBusMenuExport::introspect(const QString&) const {
    return QString::fromLatin1(kIntrospection);
}
