// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/announcements.h"
#include "notifier/service_view.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>

// The notifier on the session bus, for panels, scripts and second lights: the name org.corvo.kd5lite, the object
// /org/corvo/kd5lite with the interface org.corvo.kd5lite.Notifier (the form of the keyring schema's name). Its
// properties follow what the tray shows, each change announced with PropertiesChanged; its methods are the tray
// menu's entries under the same rules (notifier/service_requests.h). Only the session bus; every account is named
// by its label alone. Window thread.

inline constexpr char kBusName[] = "org.corvo.kd5lite";
inline constexpr char kBusPath[] = "/org/corvo/kd5lite";
inline constexpr char kBusInterface[] = "org.corvo.kd5lite.Notifier";

// One watched folder of an account of several: (sx), its name and its count.
struct BusFolder {
    QString name;
    qlonglong count = 0;
};
Q_DECLARE_METATYPE(BusFolder)

// One account in the Accounts property: (issibssxa(sx)).
struct BusAccount {
    int account = 0; // 1 to 3
    QString label;
    QString protocol;
    int count = 0;
    bool lit = false;
    QString health;
    QString cause;
    qlonglong last_check = 0; // Unix time of the last good check; 0 for never
    QList<BusFolder> folders; // none for an account of one folder
};

// One new message in MailArrived: (ss), sender and subject as the notification shows them.
struct BusMessage {
    QString sender;
    QString subject;
};

Q_DECLARE_METATYPE(BusAccount)
Q_DECLARE_METATYPE(BusMessage)

QDBusArgument& operator<<(QDBusArgument& a, const BusAccount& account);
const QDBusArgument& operator>>(const QDBusArgument& a, BusAccount& account);
QDBusArgument& operator<<(QDBusArgument& a, const BusFolder& folder);
const QDBusArgument& operator>>(const QDBusArgument& a, BusFolder& folder);
QDBusArgument& operator<<(QDBusArgument& a, const BusMessage& message);
const QDBusArgument& operator>>(const QDBusArgument& a, BusMessage& message);

// Registers the types above with the bus library (idempotent).
void register_bus_types();

// The switched-on accounts of a view, as the property gives them.
QList<BusAccount> bus_accounts(const ServiceView& view);
// And back, for kd5lite --status.
ServiceView view_of(bool monitoring, const QList<BusAccount>& accounts);

class NotifierService;

class NotifierAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.corvo.kd5lite.Notifier")
    Q_PROPERTY(bool Monitoring READ monitoring)
    Q_PROPERTY(QList<BusAccount> Accounts READ accounts)
    Q_PROPERTY(QList<bool> Lit READ lit)
    Q_PROPERTY(bool Quiet READ quiet)
    Q_PROPERTY(qlonglong QuietUntil READ quiet_until)
public:
    explicit NotifierAdaptor(NotifierService* service);

    bool monitoring() const;
    QList<BusAccount> accounts() const;
    QList<bool> lit() const;
    bool quiet() const;
    qlonglong quiet_until() const; // Unix time; 0 while not quiet or where the desktop decides the end

public slots:
    void CheckNow(const QDBusMessage& message);
    void Acknowledge(int account, const QDBusMessage& message);
    void StartMonitoring(const QDBusMessage& message);
    void StopMonitoring(const QDBusMessage& message);
    void Snooze(int minutes, const QDBusMessage& message);

signals:
    void MailArrived(int account, int count, const QList<BusMessage>& newest);
    void LampChanged(const QList<bool>& lit);
    void HealthChanged(int account, const QString& state, const QString& cause);

private:
    NotifierService* service_;
};

enum class BusName { owned, taken, no_bus };

class NotifierService : public QObject {
public:
    NotifierService();

    // Registers the object and asks for the name, each call bounded by bus_call_ms. taken: another notifier owns
    // it on this bus, the single-instance case.
    BusName claim();

    // Once per tick: the new mail of the tick and the view now, with what changed since the last one.
    void publish(const std::vector<Announcement>& news, const ServiceView& now,
                 const std::vector<ServiceEvent>& events);

    const ServiceView& view() const { return view_; }

private:
    void properties_changed(const ServiceView& now);

    NotifierAdaptor* adaptor_;
    ServiceView view_;
    bool on_bus_ = false;
};
