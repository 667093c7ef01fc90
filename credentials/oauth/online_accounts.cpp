// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/online_accounts.h"

#include "platform/secret.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariantMap>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <unistd.h>

// GNOME Online Accounts on the session bus: the service is an object manager whose objects under Accounts/ each
// carry the Account interface, and Mail and OAuth2Based where the account reads mail and signs in with OAuth2
// (the service's data/dbus-interfaces.xml).

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kService[] = "org.gnome.OnlineAccounts";
constexpr char kManagerPath[] = "/org/gnome/OnlineAccounts";
constexpr char kAccountsPath[] = "/org/gnome/OnlineAccounts/Accounts/";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";
constexpr char kAccountInterface[] = "org.gnome.OnlineAccounts.Account";
constexpr char kMailInterface[] = "org.gnome.OnlineAccounts.Mail";
constexpr char kOAuth2Interface[] = "org.gnome.OnlineAccounts.OAuth2Based";
// What the service answers for credentials that have expired or been revoked at the provider.
constexpr char kNotAuthorized[] = "org.gnome.OnlineAccounts.Error.NotAuthorized";
constexpr std::size_t kNameMax = 128;    // provider and identity, as shown
constexpr std::size_t kErrorMax = 200;   // the service's own words in an error line
constexpr std::size_t kAccountsMax = 64; // more than any desktop has; a flood is cut here

std::atomic<unsigned> g_links{0};

void say(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
}

// The session bus's address: DBUS_SESSION_BUS_ADDRESS, else the desktop's socket in XDG_RUNTIME_DIR, as systemd
// sessions have it. Read at every call (tests start buses of their own), and never D-Bus's autolaunch, which
// could start a bus of its own for nobody.
std::string session_bus_address() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0') {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return "";
    }
    const std::string socket = std::string(runtime) + "/bus";
    return access(socket.c_str(), F_OK) == 0 ? "unix:path=" + socket : "";
}

// A connection of its own for one request, made on the calling thread and gone with the object. Qt D-Bus serves
// a blocking call from any thread (its own thread reads the bus), so a check's worker thread needs no event loop;
// a connection of its own keeps a test's private bus, or a new session, from meeting one made for another.
class BusLink {
public:
    BusLink()
        : name_(QStringLiteral("kd5lite-online-accounts-%1").arg(g_links.fetch_add(1))), connection_(open(name_)) {}
    ~BusLink() { QDBusConnection::disconnectFromBus(name_); }
    BusLink(const BusLink&) = delete;
    BusLink& operator=(const BusLink&) = delete;

    bool connected() const { return connection_.isConnected(); }

    // A blocking call that waits no longer than the deadline.
    QDBusMessage call(const QDBusMessage& message, Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return connection_.call(message, QDBus::Block, static_cast<int>(std::max<long long>(1, left)));
    }

private:
    // Without an address, a connection by that name that was never made: not connected.
    static QDBusConnection open(const QString& name) {
        const std::string address = session_bus_address();
        return address.empty() ? QDBusConnection(name)
                               : QDBusConnection::connectToBus(QString::fromStdString(address), name);
    }

    QString name_;
    QDBusConnection connection_;
};

// An error reply's status: a service not on the bus is no service, no answer in time or anything else a failure.
OnlineStatus error_status(const QDBusMessage& reply, std::string* error) {
    const QString name = reply.errorName();
    if (name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        say(error, "no online accounts service");
        return OnlineStatus::no_service;
    }
    say(error, online_display_text((name + ": " + reply.errorMessage()).toStdString(), kErrorMax));
    return OnlineStatus::failed;
}

std::string text_of(const QVariantMap& properties, const char* name) {
    const QVariant value = properties.value(QLatin1String(name));
    return value.metaType() == QMetaType::fromType<QString>() ? value.toString().toStdString() : "";
}

// A missing or mistyped property counts as fallback.
bool flag_of(const QVariantMap& properties, const char* name, bool fallback) {
    const QVariant value = properties.value(QLatin1String(name));
    return value.metaType() == QMetaType::fromType<bool>() ? value.toBool() : fallback;
}

struct Found {
    OnlineMailAccount account;
    QString path;
};

// One object of the manager as a mail account, if it is one kd5lite can read: Account, Mail (not switched off, with
// IMAP) and OAuth2Based, and an Id, host and user fit for use.
bool mail_account_of(const QString& path, const std::map<QString, QVariantMap>& interfaces, Found& found) {
    const auto account = interfaces.find(QLatin1String(kAccountInterface));
    const auto mail = interfaces.find(QLatin1String(kMailInterface));
    if (!path.startsWith(QLatin1String(kAccountsPath)) || account == interfaces.end() || mail == interfaces.end() ||
        interfaces.count(QLatin1String(kOAuth2Interface)) == 0 || flag_of(account->second, "MailDisabled", false) ||
        !flag_of(mail->second, "ImapSupported", true)) {
        return false;
    }
    OnlineMailAccount& a = found.account;
    a.id = text_of(account->second, "Id");
    a.imap_host = text_of(mail->second, "ImapHost");
    a.email = text_of(mail->second, "EmailAddress");
    a.imap_user = text_of(mail->second, "ImapUserName");
    if (a.imap_user.empty()) {
        a.imap_user = a.email; // "blank if the user name of the current user should be used": the address
    }
    if (!online_field_usable(a.id, kOnlineIdMax) || !online_field_usable(a.imap_host, kOnlineFieldMax) ||
        !online_field_usable(a.imap_user, kOnlineFieldMax)) {
        return false;
    }
    a.email = online_field_usable(a.email, kOnlineFieldMax) ? a.email : "";
    a.provider = online_display_text(text_of(account->second, "ProviderName"), kNameMax);
    a.identity = online_display_text(text_of(account->second, "PresentationIdentity"), kNameMax);
    a.oauth2 = true;
    a.imap_use_ssl = flag_of(mail->second, "ImapUseSsl", false);
    a.imap_use_tls = flag_of(mail->second, "ImapUseTls", false);
    a.attention_needed = flag_of(account->second, "AttentionNeeded", false);
    found.path = path;
    return true;
}

// The reply of GetManagedObjects, a{oa{sa{sv}}}, walked by hand: Qt has no type of its own for it. The signature is
// checked first, so a reply of another shape is refused rather than misread.
bool read_managed_objects(const QDBusMessage& reply, std::vector<Found>& found) {
    if (reply.arguments().size() != 1) {
        return false;
    }
    const QDBusArgument objects = reply.arguments().at(0).value<QDBusArgument>();
    if (objects.currentSignature() != QLatin1String("a{oa{sa{sv}}}")) {
        return false;
    }
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        std::map<QString, QVariantMap> interfaces;
        objects.beginMapEntry();
        objects >> path;
        objects.beginMap();
        while (!objects.atEnd()) {
            QString name;
            QVariantMap properties;
            objects.beginMapEntry();
            objects >> name >> properties;
            objects.endMapEntry();
            interfaces.emplace(name, std::move(properties));
        }
        objects.endMap();
        objects.endMapEntry();
        Found one;
        if (found.size() < kAccountsMax && mail_account_of(path.path(), interfaces, one)) {
            found.push_back(std::move(one));
        }
    }
    objects.endMap();
    return true;
}

OnlineStatus find_accounts(BusLink& bus, Clock::time_point deadline, std::vector<Found>& found, std::string* error) {
    found.clear();
    if (!bus.connected()) {
        say(error, "no session bus");
        return OnlineStatus::no_service;
    }
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kManagerPath),
                                                QLatin1String(kObjectManager), QStringLiteral("GetManagedObjects")),
                 deadline);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return error_status(reply, error);
    }
    if (!read_managed_objects(reply, found)) {
        say(error, "the online accounts service answered in an unknown form");
        return OnlineStatus::failed;
    }
    return OnlineStatus::ok;
}

OnlineStatus find_account(BusLink& bus, Clock::time_point deadline, const std::string& id, Found& account,
                          std::string* error) {
    std::vector<Found> found;
    const OnlineStatus status = find_accounts(bus, deadline, found, error);
    if (status != OnlineStatus::ok) {
        return status;
    }
    for (Found& f : found) {
        if (f.account.id == id) {
            account = std::move(f);
            return OnlineStatus::ok;
        }
    }
    say(error, "no online account with mail and OAuth2 has the Id " + online_display_text(id, kOnlineIdMax));
    return OnlineStatus::no_account;
}

Clock::time_point deadline_in(int wait_ms) {
    return Clock::now() + std::chrono::milliseconds(std::max(1, wait_ms));
}

} // namespace

bool online_field_usable(const std::string& text, std::size_t max) {
    if (text.empty() || text.size() > max) {
        return false;
    }
    for (unsigned char c : text) {
        if (c <= ' ' || c == 0x7f) {
            return false;
        }
    }
    return true;
}

std::string online_display_text(const std::string& text, std::size_t max) {
    std::string shown = text.substr(0, max);
    if (shown.size() < text.size()) {
        // Back to the start of the sequence the cut went through, when it went through one.
        std::size_t start = shown.size();
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        shown.resize(start);
    }
    for (char& c : shown) {
        const auto u = static_cast<unsigned char>(c);
        if (u < ' ' || u == 0x7f) {
            c = '?';
        }
    }
    return shown;
}

OnlineStatus online_mail_accounts(std::vector<OnlineMailAccount>& accounts, int wait_ms, std::string* error) {
    accounts.clear();
    BusLink bus;
    std::vector<Found> found;
    const OnlineStatus status = find_accounts(bus, deadline_in(wait_ms), found, error);
    for (Found& f : found) {
        accounts.push_back(std::move(f.account));
    }
    return status;
}

OnlineStatus online_mail_account(const std::string& id, OnlineMailAccount& account, int wait_ms, std::string* error) {
    account = {};
    BusLink bus;
    Found found;
    const OnlineStatus status = find_account(bus, deadline_in(wait_ms), id, found, error);
    if (status == OnlineStatus::ok) {
        account = std::move(found.account);
    }
    return status;
}

OnlineStatus online_access_token(const std::string& id, std::string& token, int& expires_in_s, int wait_ms,
                                 std::string* error) {
    wipe_secret(token);
    expires_in_s = 0;
    const Clock::time_point deadline = deadline_in(wait_ms);
    BusLink bus;
    Found found;
    OnlineStatus status = find_account(bus, deadline, id, found, error);
    if (status != OnlineStatus::ok) {
        return status;
    }
    // GOA refreshes the token itself when it is due, so this call may wait on the provider.
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(QLatin1String(kService), found.path, QLatin1String(kOAuth2Interface),
                                                QStringLiteral("GetAccessToken")),
                 deadline);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (reply.errorName() == QLatin1String(kNotAuthorized)) {
            say(error, online_display_text(reply.errorMessage().toStdString(), kErrorMax));
            return OnlineStatus::refused;
        }
        return error_status(reply, error);
    }
    const QList<QVariant> out = reply.arguments();
    if (out.size() != 2 || out.at(0).metaType() != QMetaType::fromType<QString>() ||
        out.at(1).metaType() != QMetaType::fromType<int>()) {
        say(error, "the online accounts service answered in an unknown form");
        return OnlineStatus::failed;
    }
    // The bus library's own copies of the token are beyond reach; ours is wiped by the caller.
    QByteArray bytes = out.at(0).toString().toUtf8();
    if (bytes.isEmpty() || static_cast<std::size_t>(bytes.size()) > kOnlineTokenMax) {
        say(error,
            bytes.isEmpty() ? "the online account gave an empty token" : "the online account's token is too long");
        return OnlineStatus::failed;
    }
    token.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bytes.fill('\0');
    expires_in_s = std::max(0, out.at(1).toInt());
    return OnlineStatus::ok;
}
