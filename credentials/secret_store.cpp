// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/secret_store.h"

#include "platform/secret.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <libsecret/secret.h>
#include <sys/stat.h>

namespace {

constexpr char kSchemaName[] = "org.corvo.kd5lite.Account";

const SecretSchema* schema() {
    static const SecretSchema s = [] {
        SecretSchema built{};
        built.name = kSchemaName;
        built.flags = SECRET_SCHEMA_NONE;
        const char* names[] = {"server", "user", "protocol", "kind"};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            built.attributes[i] = {names[i], SECRET_SCHEMA_ATTRIBUTE_STRING};
        }
        return built;
    }();
    return &s;
}

const char* kind_name(SecretKind kind) {
    return kind == SecretKind::refresh_token ? "refresh-token" : "password";
}

// The attributes of key, for libsecret's calls (a table of borrowed strings: key must outlive it).
class Attributes {
public:
    explicit Attributes(const SecretKey& key) : table_(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table_, const_cast<char*>("server"), const_cast<char*>(key.server.c_str()));
        g_hash_table_insert(table_, const_cast<char*>("user"), const_cast<char*>(key.user.c_str()));
        g_hash_table_insert(table_, const_cast<char*>("protocol"), const_cast<char*>(key.protocol.c_str()));
        g_hash_table_insert(table_, const_cast<char*>("kind"), const_cast<char*>(kind_name(key.kind)));
    }
    ~Attributes() { g_hash_table_unref(table_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    GHashTable* get() const { return table_; }

private:
    GHashTable* table_;
};

// Cancels the calls of one operation when its wait is over. libsecret's synchronous calls give up on a cancelled
// GCancellable (and dismiss a prompt that is still open), so no daemon and no prompt can hold the caller longer.
class Deadline {
public:
    explicit Deadline(int wait_ms) : cancellable_(g_cancellable_new()) {
        const auto wait = std::chrono::milliseconds(wait_ms > 0 ? wait_ms : 1);
        timer_ = std::thread([this, wait] {
            std::unique_lock lock(mutex_);
            if (!done_changed_.wait_for(lock, wait, [this] { return done_; })) {
                g_cancellable_cancel(cancellable_);
            }
        });
    }
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_changed_.notify_one();
        timer_.join();
        g_object_unref(cancellable_);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return cancellable_; }
    bool expired() const { return g_cancellable_is_cancelled(cancellable_); }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_changed_;
    bool done_ = false;
    std::thread timer_;
};

// Owns a GError.
struct Error {
    GError* error = nullptr;
    ~Error() { g_clear_error(&error); }
    GError** out() { return &error; }
    std::string text() const { return error != nullptr ? error->message : ""; }
};

// The session bus as GDBus finds it, without its last resort: with neither DBUS_SESSION_BUS_ADDRESS nor a bus
// socket in XDG_RUNTIME_DIR it would start a bus of its own through dbus-launch (and with it, by activation, a
// keyring nobody unlocked). Empty when there is no bus.
std::string session_bus_address() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') {
        return "";
    }
    std::string path = std::string(runtime) + "/bus";
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) ? "unix:path=" + path : "";
}

// All use of libsecret takes turns, with a main context of the store's own as the thread's default: libsecret's
// service watches the keyring's name and signals there, and the store runs them at the start and end of each call,
// on the caller's thread. So a keyring daemon that went away (and with it the session libsecret opened with it) is
// let go before the next call, and no signal piles up unhandled between calls.
std::mutex g_mutex;
GMainContext* g_context = g_main_context_new();

void drain() {
    while (g_main_context_iteration(g_context, FALSE)) {
    }
}

class Turn {
public:
    Turn() : lock_(g_mutex) {
        g_main_context_push_thread_default(g_context);
        drain();
    }
    ~Turn() {
        drain();
        g_main_context_pop_thread_default(g_context);
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    std::lock_guard<std::mutex> lock_;
};

bool no_one_answers(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
}

// The result of a failed call. Anything but a locked keyring lets libsecret's service go, so the next call opens
// a new session: the daemon may have been restarted since.
SecretResult failure(const Deadline& deadline, const Error& error, SecretResult otherwise, std::string* reason) {
    if (reason != nullptr) {
        *reason = error.text();
    }
    if (g_error_matches(error.error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
        return SecretResult::locked;
    }
    secret_service_disconnect();
    if (deadline.expired()) {
        return SecretResult::timed_out;
    }
    return no_one_answers(error.error) ? SecretResult::no_service : otherwise;
}

// libsecret's service with an open session (a new reference), or nullptr with the result in *result.
SecretService* connect(const Deadline& deadline, SecretResult* result, std::string* reason) {
    if (session_bus_address().empty()) {
        if (reason != nullptr) {
            *reason = "no session bus";
        }
        *result = SecretResult::no_service;
        return nullptr;
    }
    Error error;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, deadline.cancellable(), error.out());
    if (bus == nullptr) {
        *result = failure(deadline, error, SecretResult::no_service, reason);
        return nullptr;
    }
    // GDBus ends the process with SIGTERM when the session bus goes away; a lost keyring is only a failed call.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    const bool closed = g_dbus_connection_is_closed(bus);
    g_object_unref(bus);
    if (closed) {
        if (reason != nullptr) {
            *reason = "the session bus has gone";
        }
        *result = SecretResult::no_service;
        return nullptr;
    }
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, deadline.cancellable(), error.out());
    if (service == nullptr) {
        *result = failure(deadline, error, SecretResult::no_service, reason);
    }
    return service;
}

// Without leave to unlock, a locked default collection is refused before the store would raise a prompt.
SecretResult refuse_locked_default(SecretService* service, const Deadline& deadline, std::string* reason) {
    Error error;
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, deadline.cancellable(),
                                                                    error.out());
    if (error.error != nullptr) {
        return failure(deadline, error, SecretResult::failed, reason);
    }
    if (collection == nullptr) {
        return SecretResult::ok; // none yet: the store makes it, which a keyring may do without asking
    }
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    return locked ? SecretResult::locked : SecretResult::ok;
}

void copy_secret(SecretValue* value, std::string& out) {
    gsize length = 0;
    const gchar* data = secret_value_get(value, &length);
    out.reserve(length); // one allocation, so no copy is left behind by a growing string
    out.assign(data, length);
}

} // namespace

SecretResult secret_save(const SecretKey& key, std::string_view secret, SecretUnlock unlock, int wait_ms,
                         std::string* reason) {
    Turn turn;
    Deadline deadline(wait_ms);
    SecretResult result = SecretResult::ok;
    SecretService* service = connect(deadline, &result, reason);
    if (service == nullptr) {
        return result;
    }
    if (unlock == SecretUnlock::never) {
        result = refuse_locked_default(service, deadline, reason);
    }
    if (result == SecretResult::ok) {
        Attributes attributes(key);
        // Copied into libsecret's own memory, which it locks against swapping and wipes when freed.
        SecretValue* value = secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
        const std::string label = secret_label(key);
        Error error;
        if (!secret_service_store_sync(service, schema(), attributes.get(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                       value, deadline.cancellable(), error.out())) {
            result = failure(deadline, error, SecretResult::failed, reason);
        }
        secret_value_unref(value);
    }
    g_object_unref(service);
    return result;
}

SecretResult secret_lookup(const SecretKey& key, std::string& out, SecretUnlock unlock, int wait_ms,
                           std::string* reason) {
    wipe_secret(out);
    Turn turn;
    Deadline deadline(wait_ms);
    SecretResult result = SecretResult::ok;
    SecretService* service = connect(deadline, &result, reason);
    if (service == nullptr) {
        return result;
    }
    // Without SECRET_SEARCH_UNLOCK a locked item comes back locked and without its secret, and no prompt is raised.
    const int flags = SECRET_SEARCH_LOAD_SECRETS | (unlock == SecretUnlock::ask ? SECRET_SEARCH_UNLOCK : 0);
    Attributes attributes(key);
    Error error;
    GList* items = secret_service_search_sync(service, schema(), attributes.get(), static_cast<SecretSearchFlags>(flags),
                                              deadline.cancellable(), error.out());
    if (error.error != nullptr) {
        result = failure(deadline, error, SecretResult::failed, reason);
    } else if (items == nullptr) {
        result = SecretResult::not_found;
    } else {
        auto* item = static_cast<SecretItem*>(items->data);
        SecretValue* value = secret_item_get_locked(item) ? nullptr : secret_item_get_secret(item);
        if (value == nullptr) {
            result = SecretResult::locked;
        } else {
            copy_secret(value, out);
            secret_value_unref(value);
        }
    }
    g_list_free_full(items, g_object_unref);
    g_object_unref(service);
    return result;
}

SecretResult secret_remove(const SecretKey& key, int wait_ms, std::string* reason) {
    Turn turn;
    Deadline deadline(wait_ms);
    SecretResult result = SecretResult::ok;
    SecretService* service = connect(deadline, &result, reason);
    if (service == nullptr) {
        return result;
    }
    Attributes attributes(key);
    Error error;
    // FALSE without an error: there was nothing to remove.
    if (!secret_service_clear_sync(service, schema(), attributes.get(), deadline.cancellable(), error.out()) &&
        error.error != nullptr) {
        result = failure(deadline, error, SecretResult::failed, reason);
    }
    g_object_unref(service);
    return result;
}

const char* secret_result_text(SecretResult result) {
    switch (result) {
    case SecretResult::ok: return "the keyring answered";
    case SecretResult::not_found: return "the keyring holds no such secret";
    case SecretResult::locked: return "the keyring is locked";
    case SecretResult::no_service: return "no keyring is running";
    case SecretResult::timed_out: return "the keyring does not answer";
    default: return "the keyring refused";
    }
}

std::string secret_label(const SecretKey& key) {
    std::string label = "kd5lite: " + key.user;
    label += key.user.find('@') == std::string::npos ? "@" + key.server : " (" + key.server + ")";
    if (key.kind == SecretKind::refresh_token) {
        label += ", OAuth2 refresh token";
    }
    return label;
}
