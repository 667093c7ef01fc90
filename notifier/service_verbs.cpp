// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/service_verbs.h"

#include "mail/core/header_text.h"
#include "notifier/bus_probe.h"
#include "notifier/mailbox.h"
#include "notifier/notifier_service.h"
#include "notifier/service_requests.h"
#include "notifier/service_view.h"
#include "notifier/tray_status.h"
#include "platform/notifier_lock.h"
#include "platform/timing.h"
#include "settings/mailbox_codes.h"

#include <algorithm>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QVariantMap>

namespace {

const QString kDBus = QStringLiteral("org.freedesktop.DBus");

QDBusMessage call(QDBusConnection& bus, QDBusMessage message) {
    return bus.call(message, QDBus::Block, timing().bus_call_ms);
}

QDBusMessage notifier_call(const char* interface, const char* method) {
    return QDBusMessage::createMethodCall(QString::fromLatin1(kBusName), QString::fromLatin1(kBusPath),
                                          QString::fromLatin1(interface), QString::fromLatin1(method));
}

// Whether a notifier owns its name on this bus, asked within the bus call time.
bool notifier_on_bus(QDBusConnection& bus) {
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(kDBus, QStringLiteral("/org/freedesktop/DBus"), kDBus,
                                                      QStringLiteral("NameHasOwner"));
    ask << QString::fromLatin1(kBusName);
    const QDBusMessage reply = call(bus, ask);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

// The notifier's reason, or the bus's, as one clean line.
int refused(std::FILE* err, const std::string& why) {
    std::fprintf(err, "kd5lite: %s\n", tidy_text(why, 300).c_str());
    return kVerbRefused;
}

int print_status(const ServiceView& view, bool json, std::FILE* out) {
    const std::string text = json ? status_json(view) : status_text(view);
    std::fputs(text.c_str(), out);
    return 0;
}

int status_over_bus(QDBusConnection& bus, bool json, std::FILE* out, std::FILE* err) {
    QDBusMessage get = notifier_call("org.freedesktop.DBus.Properties", "GetAll");
    get << QString::fromLatin1(kBusInterface);
    const QDBusMessage reply = call(bus, get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return refused(err, reply.errorMessage().toStdString());
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(reply.arguments().constFirst());
    QList<BusAccount> accounts;
    const QVariant value = properties.value(QStringLiteral("Accounts"));
    if (value.canConvert<QDBusArgument>()) {
        accounts = qdbus_cast<QList<BusAccount>>(value.value<QDBusArgument>());
    }
    ServiceView view = view_of(properties.value(QStringLiteral("Monitoring")).toBool(), accounts);
    view.quiet = properties.value(QStringLiteral("Quiet")).toBool();
    view.quiet_until = static_cast<std::time_t>(properties.value(QStringLiteral("QuietUntil")).toLongLong());
    return print_status(view, json, out);
}

int method_over_bus(QDBusConnection& bus, const std::string& verb, const std::string& value, std::FILE* err) {
    QDBusMessage message;
    if (verb == "--ack") {
        message = notifier_call(kBusInterface, "Acknowledge");
        message << (value.empty() ? -1 : std::stoi(value));
    } else if (verb == "--check-now") {
        message = notifier_call(kBusInterface, "CheckNow");
    } else if (verb == "--snooze") {
        message = notifier_call(kBusInterface, "Snooze");
        message << std::stoi(value); // six digits at most: verb_value_ok
    } else if (verb == "--start") {
        message = notifier_call(kBusInterface, "StartMonitoring");
    } else {
        message = notifier_call(kBusInterface, "StopMonitoring");
    }
    const QDBusMessage reply = call(bus, message);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return refused(err, reply.errorMessage().toStdString());
    }
    return 0;
}

// The mailbox carries a start, a stop and an acknowledge of every account, each under the tray menu's rules as
// the file shows the notifier now.
int through_mailbox(const std::string& verb, const std::string& value, std::FILE* out, std::FILE* err) {
    if (verb == "--status") {
        return print_status(read_mailbox_view(), value == "--json", out);
    }
    if (verb == "--check-now" || verb == "--snooze" || (verb == "--ack" && !value.empty())) {
        return refused(err, verb + (value.empty() ? "" : " " + value) +
                                " needs the session bus: the command mailbox has no such request");
    }
    mailbox_poll();
    tray_status_monitoring(mailbox_state() == NotifierState::busy && mailbox_job() == job_code(Request::monitor));
    Refusal refusal = Refusal::none;
    if (verb == "--start") {
        refusal = request_start();
    } else if (verb == "--stop") {
        refusal = request_stop();
    } else {
        put_request(Request::acknowledge);
    }
    return refusal == Refusal::none ? 0 : refused(err, refusal_message(refusal));
}

} // namespace

bool is_service_verb(const std::string& word) {
    return word == "--status" || word == "--ack" || word == "--check-now" || word == "--start" || word == "--stop" ||
           word == "--snooze";
}

bool verb_value_ok(const std::string& verb, const std::string& value) {
    if (value.empty()) {
        return true;
    }
    if (verb == "--status") {
        return value == "--json";
    }
    if (verb == "--snooze") { // the range is the notifier's to judge, with its reason
        return value.size() <= 6 && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return verb == "--ack" && (value == "1" || value == "2" || value == "3");
}

int run_service_verb(const std::string& verb, const std::string& value, std::FILE* out, std::FILE* err) {
    leave_out_silent_session_bus(timing().bus_answer_ms);
    register_bus_types();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (notifier_on_bus(bus)) {
        if (verb == "--status") {
            return status_over_bus(bus, value == "--json", out, err);
        }
        return method_over_bus(bus, verb, value, err);
    }
    if (!notifier_lock_held()) {
        std::fprintf(err, "kd5lite: no notifier runs\n");
        return kVerbNoNotifier;
    }
    return through_mailbox(verb, value, out, err);
}
