// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/online_accounts.h"

#include "credentials/token_stop.h"
#include "platform/secret.h"

#include <gio/gio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

// GNOME Online Accounts on the session bus: the service is an object manager whose objects under Accounts/ each
// carry the Account interface, and Mail and OAuth2Based where the account reads mail and signs in with OAuth2
// (the service's data/dbus-interfaces.xml). Over GDBus, whose every step takes a GCancellable: a bus that accepts
// and never answers (a stopped bus daemon) costs the wait and no more.

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

// Cancels one request's GDBus calls at its deadline or at a stop (token_stop.h), from a thread of its own.
class Deadline {
public:
    explicit Deadline(int wait_ms)
        : cancellable_(g_cancellable_new()), done_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          end_(Clock::now() + std::chrono::milliseconds(std::max(1, wait_ms))) {
        thread_ = std::thread([this] { watch(); });
    }
    ~Deadline() {
        const std::uint64_t one = 1;
        if (done_ >= 0) {
            [[maybe_unused]] ssize_t n = write(done_, &one, sizeof one);
        }
        thread_.join();
        if (done_ >= 0) {
            close(done_);
        }
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return cancellable_; }
    bool stopped() const { return stopped_; }
    // What is left of the wait, for a call's own time-out.
    int left_ms() const {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return static_cast<int>(std::max<long long>(1, left));
    }

private:
    void watch() {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
            if (left <= 0) {
                break;
            }
            if (token_stop_asked()) {
                stopped_ = true;
                break;
            }
            pollfd fds[2] = {{done_, POLLIN, 0}, {token_stop_fd(), POLLIN, 0}};
            if (poll(fds, 2, token_stop_slice_ms(static_cast<int>(left))) > 0 && fds[0].revents != 0) {
                return; // the request is over
            }
        }
        g_cancellable_cancel(cancellable_);
    }

    GCancellable* cancellable_;
    int done_;
    Clock::time_point end_;
    bool stopped_ = false;
    std::thread thread_;
};

// Owns a GError.
struct Error {
    GError* error = nullptr;
    ~Error() { g_clear_error(&error); }
    GError** out() { return &error; }
};

// Owns a GVariant.
struct Variant {
    GVariant* value = nullptr;
    explicit Variant(GVariant* v = nullptr) : value(v) {}
    ~Variant() {
        if (value != nullptr) {
            g_variant_unref(value);
        }
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// What a failed step says: a bus that is not there or has no such service, the wait over or a stop, or the
// service's own words.
OnlineStatus failure(const Deadline& deadline, const GError* error, std::string* text) {
    if (deadline.stopped()) {
        say(text, "stopped");
        return OnlineStatus::failed;
    }
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT)) {
        say(text, "the session bus did not answer within the time");
        return OnlineStatus::failed;
    }
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        say(text, "no online accounts service");
        return OnlineStatus::no_service;
    }
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_INVALID_ARGUMENT)) {
        say(text, "the online accounts service answered in an unknown form");
        return OnlineStatus::failed;
    }
    gchar* remote = g_dbus_error_get_remote_error(error);
    const std::string name = remote != nullptr ? remote : "";
    g_free(remote);
    std::string message = error != nullptr ? error->message : "";
    if (remote != nullptr) {
        GError* copy = g_error_copy(error);
        g_dbus_error_strip_remote_error(copy);
        message = copy->message;
        g_error_free(copy);
    }
    if (name == kNotAuthorized) {
        say(text, online_display_text(message, kErrorMax));
        return OnlineStatus::refused;
    }
    say(text, online_display_text(name.empty() ? message : name + ": " + message, kErrorMax));
    return OnlineStatus::failed;
}

// A connection of its own for one request, gone with the object: a test's private bus, or a new session, never
// meets one made for another.
class BusLink {
public:
    BusLink(const Deadline& deadline, OnlineStatus& status, std::string* error) : deadline_(deadline) {
        const std::string address = session_bus_address();
        if (address.empty()) {
            say(error, "no session bus");
            status = OnlineStatus::no_service;
            return;
        }
        Error e;
        connection_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, deadline.cancellable(), e.out());
        if (connection_ == nullptr) {
            status = failure(deadline, e.error, error);
            if (status == OnlineStatus::failed && !deadline.stopped() &&
                !g_cancellable_is_cancelled(deadline.cancellable())) {
                status = OnlineStatus::no_service; // nothing listens there, or it is no bus
                say(error, "no session bus");
            }
            return;
        }
        status = OnlineStatus::ok;
    }
    ~BusLink() {
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
    }
    BusLink(const BusLink&) = delete;
    BusLink& operator=(const BusLink&) = delete;

    // A method call whose answer must have the type reply_type; the answer, or nullptr with the status in *status.
    GVariant* call(const char* path, const char* interface, const char* method, const char* reply_type,
                   OnlineStatus& status, std::string* error) {
        Error e;
        GVariant* reply = g_dbus_connection_call_sync(connection_, kService, path, interface, method, nullptr,
                                                      G_VARIANT_TYPE(reply_type), G_DBUS_CALL_FLAGS_NONE,
                                                      deadline_.left_ms(), deadline_.cancellable(), e.out());
        status = reply != nullptr ? OnlineStatus::ok : failure(deadline_, e.error, error);
        return reply;
    }

private:
    const Deadline& deadline_;
    GDBusConnection* connection_ = nullptr;
};

std::string text_of(GVariant* properties, const char* name) {
    Variant value(g_variant_lookup_value(properties, name, G_VARIANT_TYPE_STRING));
    return value.value != nullptr ? g_variant_get_string(value.value, nullptr) : "";
}

// A missing or mistyped property counts as fallback.
bool flag_of(GVariant* properties, const char* name, bool fallback) {
    Variant value(g_variant_lookup_value(properties, name, G_VARIANT_TYPE_BOOLEAN));
    return value.value != nullptr ? g_variant_get_boolean(value.value) != FALSE : fallback;
}

struct Found {
    OnlineMailAccount account;
    std::string path;
};

// One object of the manager as a mail account, if it is one kd5lite can read: Account, Mail (not switched off, with
// IMAP) and OAuth2Based, and an Id, host and user fit for use. interfaces is the object's a{sa{sv}}.
bool mail_account_of(const std::string& path, GVariant* interfaces, Found& found) {
    Variant account(g_variant_lookup_value(interfaces, kAccountInterface, G_VARIANT_TYPE_VARDICT));
    Variant mail(g_variant_lookup_value(interfaces, kMailInterface, G_VARIANT_TYPE_VARDICT));
    Variant oauth2(g_variant_lookup_value(interfaces, kOAuth2Interface, G_VARIANT_TYPE_VARDICT));
    if (!path.starts_with(kAccountsPath) || account.value == nullptr || mail.value == nullptr ||
        oauth2.value == nullptr || flag_of(account.value, "MailDisabled", false) ||
        !flag_of(mail.value, "ImapSupported", true)) {
        return false;
    }
    OnlineMailAccount& a = found.account;
    a.id = text_of(account.value, "Id");
    a.imap_host = text_of(mail.value, "ImapHost");
    a.email = text_of(mail.value, "EmailAddress");
    a.imap_user = text_of(mail.value, "ImapUserName");
    if (a.imap_user.empty()) {
        a.imap_user = a.email; // "blank if the user name of the current user should be used": the address
    }
    if (!online_field_usable(a.id, kOnlineIdMax) || !online_field_usable(a.imap_host, kOnlineFieldMax) ||
        !online_field_usable(a.imap_user, kOnlineFieldMax)) {
        return false;
    }
    a.email = online_field_usable(a.email, kOnlineFieldMax) ? a.email : "";
    a.provider = online_display_text(text_of(account.value, "ProviderName"), kNameMax);
    a.identity = online_display_text(text_of(account.value, "PresentationIdentity"), kNameMax);
    a.oauth2 = true;
    a.imap_use_ssl = flag_of(mail.value, "ImapUseSsl", false);
    a.imap_use_tls = flag_of(mail.value, "ImapUseTls", false);
    a.attention_needed = flag_of(account.value, "AttentionNeeded", false);
    found.path = path;
    return true;
}

// The reply of GetManagedObjects, (a{oa{sa{sv}}}): GDBus has checked its type against the one asked for.
void read_managed_objects(GVariant* reply, std::vector<Found>& found) {
    Variant objects(g_variant_get_child_value(reply, 0));
    GVariantIter iter;
    g_variant_iter_init(&iter, objects.value);
    const gchar* path = nullptr;
    GVariant* interfaces = nullptr;
    while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
        Variant owned(interfaces);
        Found one;
        if (found.size() < kAccountsMax && mail_account_of(path, interfaces, one)) {
            found.push_back(std::move(one));
        }
    }
}

OnlineStatus find_accounts(BusLink& bus, std::vector<Found>& found, std::string* error) {
    found.clear();
    OnlineStatus status = OnlineStatus::ok;
    Variant reply(bus.call(kManagerPath, kObjectManager, "GetManagedObjects", "(a{oa{sa{sv}}})", status, error));
    if (reply.value != nullptr) {
        read_managed_objects(reply.value, found);
    }
    return status;
}

OnlineStatus find_account(BusLink& bus, const std::string& id, Found& account, std::string* error) {
    std::vector<Found> found;
    const OnlineStatus status = find_accounts(bus, found, error);
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
    Deadline deadline(wait_ms);
    OnlineStatus status = OnlineStatus::ok;
    BusLink bus(deadline, status, error);
    if (status != OnlineStatus::ok) {
        return status;
    }
    std::vector<Found> found;
    status = find_accounts(bus, found, error);
    for (Found& f : found) {
        accounts.push_back(std::move(f.account));
    }
    return status;
}

OnlineStatus online_mail_account(const std::string& id, OnlineMailAccount& account, int wait_ms, std::string* error) {
    account = {};
    Deadline deadline(wait_ms);
    OnlineStatus status = OnlineStatus::ok;
    BusLink bus(deadline, status, error);
    if (status != OnlineStatus::ok) {
        return status;
    }
    Found found;
    status = find_account(bus, id, found, error);
    if (status == OnlineStatus::ok) {
        account = std::move(found.account);
    }
    return status;
}

OnlineStatus online_access_token(const std::string& id, std::string& token, int& expires_in_s, int wait_ms,
                                 std::string* error) {
    wipe_secret(token);
    expires_in_s = 0;
    Deadline deadline(wait_ms);
    OnlineStatus status = OnlineStatus::ok;
    BusLink bus(deadline, status, error);
    if (status != OnlineStatus::ok) {
        return status;
    }
    Found found;
    status = find_account(bus, id, found, error);
    if (status != OnlineStatus::ok) {
        return status;
    }
    // GOA refreshes the token itself when it is due, so this call may wait on the provider.
    Variant reply(bus.call(found.path.c_str(), kOAuth2Interface, "GetAccessToken", "(si)", status, error));
    if (reply.value == nullptr) {
        return status;
    }
    // The bus library's own copies of the token are beyond reach; ours is wiped by the caller.
    const gchar* text = nullptr;
    gint32 life = 0;
    g_variant_get(reply.value, "(&si)", &text, &life);
    const std::size_t size = std::strlen(text);
    if (size == 0 || size > kOnlineTokenMax) {
        say(error, size == 0 ? "the online account gave an empty token" : "the online account's token is too long");
        return OnlineStatus::failed;
    }
    token.reserve(size);
    token.assign(text, size);
    expires_in_s = std::max(0, static_cast<int>(life));
    return OnlineStatus::ok;
}
