// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/notifier_service.h"

#include "notifier/service_requests.h"
#include "platform/timing.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QVariantMap>

QDBusArgument& operator<<(QDBusArgument& a, const BusAccount& account) {
    a.beginStructure();
    a << account.account << account.label << account.protocol << account.count << account.lit << account.health
      << account.cause << account.last_check << account.folders;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, BusAccount& account) {
    a.beginStructure();
    a >> account.account >> account.label >> account.protocol >> account.count >> account.lit >> account.health >>
        account.cause >> account.last_check >> account.folders;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const BusFolder& folder) {
    a.beginStructure();
    a << folder.name << folder.count;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, BusFolder& folder) {
    a.beginStructure();
    a >> folder.name >> folder.count;
    a.endStructure();
    return a;
}

QDBusArgument& operator<<(QDBusArgument& a, const BusMessage& message) {
    a.beginStructure();
    a << message.sender << message.subject;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, BusMessage& message) {
    a.beginStructure();
    a >> message.sender >> message.subject;
    a.endStructure();
    return a;
}

void register_bus_types() {
    qDBusRegisterMetaType<BusFolder>();
    qDBusRegisterMetaType<QList<BusFolder>>();
    qDBusRegisterMetaType<BusAccount>();
    qDBusRegisterMetaType<QList<BusAccount>>();
    qDBusRegisterMetaType<BusMessage>();
    qDBusRegisterMetaType<QList<BusMessage>>();
    qDBusRegisterMetaType<QList<bool>>();
}

QList<BusAccount> bus_accounts(const ServiceView& view) {
    QList<BusAccount> accounts;
    for (std::size_t i = 0; i < view.accounts.size(); ++i) {
        const AccountView& a = view.accounts[i];
        if (a.on) {
            QList<BusFolder> folders;
            for (const FolderView& f : a.folders) {
                folders.append({QString::fromStdString(f.name), static_cast<qlonglong>(f.count)});
            }
            accounts.append({static_cast<int>(i) + 1, QString::fromStdString(a.label),
                             QString::fromStdString(a.protocol), a.count, a.lit, QString::fromStdString(a.health),
                             QString::fromStdString(a.cause), static_cast<qlonglong>(a.last_check), folders});
        }
    }
    return accounts;
}

ServiceView view_of(bool monitoring, const QList<BusAccount>& accounts) {
    ServiceView view;
    view.monitoring = monitoring;
    for (const BusAccount& b : accounts) {
        if (b.account < 1 || b.account > 3) {
            continue; // not ours to show: the notifier numbers them 1 to 3
        }
        AccountView& a = view.accounts[static_cast<std::size_t>(b.account - 1)];
        a.on = true;
        a.label = b.label.toStdString();
        a.protocol = b.protocol.toStdString();
        a.count = b.count;
        a.lit = b.lit;
        a.health = b.health.toStdString();
        a.cause = b.cause.toStdString();
        a.last_check = static_cast<std::time_t>(b.last_check);
        for (const BusFolder& f : b.folders) {
            a.folders.push_back({f.name.toStdString(), f.count});
        }
    }
    return view;
}

namespace {

QList<bool> lit_of(const ServiceView& view) {
    QList<bool> lit;
    for (const AccountView& a : view.accounts) {
        lit.append(a.lit);
    }
    return lit;
}

// A refused call gets its error; a taken one the empty reply the bus library sends when the slot returns.
void answer(const QDBusMessage& message, Refusal refusal) {
    if (refusal == Refusal::none) {
        return;
    }
    message.setDelayedReply(true);
    QDBusConnection::sessionBus().send(message.createErrorReply(QString::fromLatin1(refusal_error_name(refusal)),
                                                                QString::fromLatin1(refusal_message(refusal))));
}

} // namespace

NotifierAdaptor::NotifierAdaptor(NotifierService* service) : QDBusAbstractAdaptor(service), service_(service) {}

bool NotifierAdaptor::monitoring() const {
    return service_->view().monitoring;
}

QList<BusAccount> NotifierAdaptor::accounts() const {
    return bus_accounts(service_->view());
}

QList<bool> NotifierAdaptor::lit() const {
    return lit_of(service_->view());
}

bool NotifierAdaptor::quiet() const {
    return service_->view().quiet;
}

qlonglong NotifierAdaptor::quiet_until() const {
    return static_cast<qlonglong>(service_->view().quiet_until);
}

void NotifierAdaptor::CheckNow(const QDBusMessage& message) {
    answer(message, request_check_now());
}

void NotifierAdaptor::Acknowledge(int account, const QDBusMessage& message) {
    answer(message, request_acknowledge(account));
}

void NotifierAdaptor::StartMonitoring(const QDBusMessage& message) {
    answer(message, request_start());
}

void NotifierAdaptor::StopMonitoring(const QDBusMessage& message) {
    answer(message, request_stop());
}

// The tray shows the snooze at its next tick; the property follows with the view of that tick.
void NotifierAdaptor::Snooze(int minutes, const QDBusMessage& message) {
    answer(message, request_snooze(minutes));
}

NotifierService::NotifierService() : adaptor_(new NotifierAdaptor(this)), view_(read_service_view()) {
    register_bus_types();
}

BusName NotifierService::claim() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return BusName::no_bus;
    }
    // The object first, so that the first call after the name was granted finds it.
    if (!bus.registerObject(QString::fromLatin1(kBusPath), this, QDBusConnection::ExportAdaptors)) {
        return BusName::no_bus;
    }
    QDBusMessage request =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    constexpr uint kDoNotQueue = 4;
    request << QString::fromLatin1(kBusName) << kDoNotQueue;
    const QDBusMessage reply = bus.call(request, QDBus::Block, timing().bus_call_ms);
    // 1: the primary owner now; 4: already it. Anything else (3: taken, an error, no answer in time) is no name.
    const uint result = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                            ? reply.arguments().constFirst().toUInt()
                            : 0;
    if (result == 1 || result == 4) {
        on_bus_ = true;
        return BusName::owned;
    }
    bus.unregisterObject(QString::fromLatin1(kBusPath));
    return result == 3 ? BusName::taken : BusName::no_bus;
}

void NotifierService::publish(const std::vector<Announcement>& news, const ServiceView& now,
                              const std::vector<ServiceEvent>& events) {
    if (!on_bus_) {
        view_ = now;
        return;
    }
    properties_changed(now);
    view_ = now;
    for (const Announcement& a : news) {
        QList<BusMessage> newest;
        for (std::size_t i = 0; i < a.newest.size() && i < 3; ++i) {
            newest.append({QString::fromStdString(a.newest[i].sender), QString::fromStdString(a.newest[i].subject)});
        }
        emit adaptor_->MailArrived(a.account + 1, a.count, newest);
    }
    for (const ServiceEvent& e : events) {
        if (e.kind == ServiceEventKind::lamp) {
            emit adaptor_->LampChanged(lit_of(now));
        } else if (e.kind == ServiceEventKind::health) {
            const AccountView& a = now.accounts[static_cast<std::size_t>(e.account)];
            emit adaptor_->HealthChanged(e.account + 1, QString::fromStdString(a.health),
                                         QString::fromStdString(a.cause));
        }
    }
}

// The properties whose values differ from the last view's, in one signal (org.freedesktop.DBus.Properties).
void NotifierService::properties_changed(const ServiceView& now) {
    QVariantMap changed;
    if (now.monitoring != view_.monitoring) {
        changed.insert(QStringLiteral("Monitoring"), now.monitoring);
    }
    if (now.accounts != view_.accounts) {
        changed.insert(QStringLiteral("Accounts"), QVariant::fromValue(bus_accounts(now)));
    }
    if (lit_of(now) != lit_of(view_)) {
        changed.insert(QStringLiteral("Lit"), QVariant::fromValue(lit_of(now)));
    }
    if (now.quiet != view_.quiet) {
        changed.insert(QStringLiteral("Quiet"), now.quiet);
    }
    if (now.quiet_until != view_.quiet_until) {
        changed.insert(QStringLiteral("QuietUntil"), static_cast<qlonglong>(now.quiet_until));
    }
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(kBusPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kBusInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}
