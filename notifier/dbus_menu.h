// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusVirtualObject>
#include <QHash>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <vector>

class QAction;
class QMenu;

// The tray menu as a StatusNotifier host shows it: com.canonical.dbusmenu at kDBusMenuPath, one id per action for
// the life of the process. Qt's own export is not used: it answers AboutToShow with needUpdate false whatever
// changed and is tied to Qt's tray item, whose status and tooltip it cannot set. Here the layout follows every
// change of the menu (a new revision and LayoutUpdated), and AboutToShow brings the menu up to date first.
inline constexpr char kDBusMenuPath[] = "/MenuBar";

class DBusMenuExport : public QDBusVirtualObject {
    Q_OBJECT
public:
    // refresh brings the menu's entries up to date with the notifier's state (before a host shows it).
    DBusMenuExport(QMenu& menu, std::function<void()> refresh, QObject* parent);

    // After the menu's entries changed: a new revision and LayoutUpdated when what a host shows differs.
    void changed();
    uint revision() const { return revision_; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    struct Node {
        int id = 0;
        QVariantMap properties;
        std::vector<Node> children;
        bool operator==(const Node&) const = default;
    };

private:
    Node node_of(QMenu& menu, int id);
    int id_of(QAction* action);
    const Node* find(const Node& from, int id) const;
    QVariant layout(const Node& node, int depth, const QStringList& names) const;
    QVariantMap properties_of(const Node& node, const QStringList& names) const;
    void activate(int id);
    QDBusMessage answer(const QDBusMessage& call);
    QDBusMessage property_answer(const QDBusMessage& call) const;

    QMenu& menu_;
    std::function<void()> refresh_;
    Node root_;
    uint revision_ = 1;
    uint served_ = 0; // the revision the last GetLayout gave
    QHash<QAction*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    int next_id_ = 1;
};
