// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/keyring_session.h"

#include "tests/support/lampsim_handle.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>

namespace {

constexpr char kDbusDaemon[] = "/usr/bin/dbus-daemon";
constexpr char kKeyringDaemon[] = "/usr/bin/gnome-keyring-daemon";
constexpr char kKeyringPassword[] = "kd5lite-test-login";
constexpr char kSecrets[] = "org.freedesktop.secrets";
constexpr char kDefaultCollection[] = "/org/freedesktop/secrets/aliases/default";
constexpr int kStartMs = 20000; // both daemons start in well under a second, but CI machines are busy
constexpr int kStopMs = 5000;
constexpr int kCallMs = 10000;

// No <servicedir>: nothing is started by activation, so the only Secret Service is the keyring the test starts
// (the system's session configuration would start gnome-keyring on the first call, unlocked by nobody).
constexpr char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

bool socket_accepts(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void restore(const char* name, bool had, const std::string& old) {
    if (had) {
        setenv(name, old.c_str(), 1);
    } else {
        unsetenv(name);
    }
}

// Starts argv in a process group of its own with env as its whole environment, output into log_path and
// standard input from stdin_fd (or /dev/null when -1).
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log_path,
            int stdin_fd) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL); // a test that crashes leaves no daemon behind
        int out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        int in = stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) {
        setpgid(pid, pid); // whichever runs first, the group exists before anyone signals it
    }
    return pid;
}

// A connection of the harness's own to the test's bus: not GDBus's shared session bus, which the product's code
// uses in this same process.
class Bus {
public:
    explicit Bus(const std::string& address) {
        connection_ = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
    }
    ~Bus() {
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
    }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // The reply of one method call (a floating reference the caller unrefs), or nullptr.
    GVariant* call(const char* destination, const char* path, const char* interface, const char* method,
                   GVariant* parameters) const {
        if (connection_ == nullptr) {
            if (parameters != nullptr) {
                g_variant_unref(g_variant_ref_sink(parameters));
            }
            return nullptr;
        }
        return g_dbus_connection_call_sync(connection_, destination, path, interface, method, parameters, nullptr,
                                           G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, nullptr);
    }

    GVariant* property(const char* path, const char* interface, const char* name) const {
        GVariant* reply = call(kSecrets, path, "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", interface, name));
        if (reply == nullptr) {
            return nullptr;
        }
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        return value;
    }

    bool has_owner(const char* name) const {
        GVariant* reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", g_variant_new("(s)", name));
        gboolean owned = FALSE;
        if (reply != nullptr) {
            g_variant_get(reply, "(b)", &owned);
            g_variant_unref(reply);
        }
        return owned;
    }

private:
    GDBusConnection* connection_ = nullptr;
};

std::string text_of(GVariant* value) {
    std::string text = value != nullptr ? g_variant_get_string(value, nullptr) : "";
    if (value != nullptr) {
        g_variant_unref(value);
    }
    return text;
}

void end_group(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
    kill(-pid, SIGCONT); // a paused daemon would never act on SIGTERM
    kill(-pid, SIGTERM);
    if (!wait_until([&] { return waitpid(pid, nullptr, WNOHANG) == pid; }, kStopMs)) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    kill(-pid, SIGKILL); // anything the daemon left in its group
    pid = -1;
}

// The test process's one session bus, ended with the process.
class SharedBus {
public:
    ~SharedBus() {
        end_group(pid_);
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }

    // The bus's address, starting it at the first call; empty with the reason in *error when it cannot start.
    std::string address(std::string* error) {
        if (!address_.empty() || start(error)) {
            return address_;
        }
        return "";
    }
    std::string runtime_dir() const { return dir_ + "/run"; }

private:
    bool start(std::string* error) {
        if (access(kDbusDaemon, X_OK) != 0) {
            *error = std::string(kDbusDaemon) + " is missing: scripts/install-deps.sh installs dbus-daemon";
            return false;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "kd5bus.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            *error = "no temporary directory";
            return false;
        }
        dir_ = pattern;
        mkdir(runtime_dir().c_str(), 0700);
        // In the runtime directory, where GDBus looks for the session bus when the address is not set.
        const std::string socket_path = runtime_dir() + "/bus";
        char config[sizeof kBusConfig + 256];
        std::snprintf(config, sizeof config, kBusConfig, socket_path.c_str());
        std::ofstream(dir_ + "/bus.conf") << config;
        pid_ = spawn({kDbusDaemon, "--config-file=" + dir_ + "/bus.conf", "--nofork", "--nopidfile"},
                     {"PATH=/usr/bin:/bin"}, dir_ + "/bus.log", -1);
        if (pid_ < 0) {
            *error = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        bool exited = false;
        bool up = wait_until(
            [&] {
                exited = waitpid(pid_, nullptr, WNOHANG) == pid_;
                return exited || socket_accepts(socket_path);
            },
            kStartMs);
        if (exited) {
            pid_ = -1;
        }
        if (exited || !up) {
            *error = "dbus-daemon did not start: " + read_file(dir_ + "/bus.log");
            end_group(pid_);
            return false;
        }
        address_ = "unix:path=" + socket_path;
        return true;
    }

    std::string dir_;
    std::string address_;
    pid_t pid_ = -1;
};

SharedBus g_bus;

} // namespace

KeyringSession::KeyringSession(Desktop desktop) : desktop_(desktop) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    had_address_ = address != nullptr;
    old_address_ = address != nullptr ? address : "";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    had_runtime_ = runtime != nullptr;
    old_runtime_ = runtime != nullptr ? runtime : "";
}

KeyringSession::~KeyringSession() {
    end_group(keyring_pid_);
    // The next session's keyring takes the name only once this one has let it go.
    if (!address_.empty()) {
        wait_for_owner(false);
    }
    restore("DBUS_SESSION_BUS_ADDRESS", had_address_, old_address_);
    restore("XDG_RUNTIME_DIR", had_runtime_, old_runtime_);
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool KeyringSession::start() {
    if (desktop_ == Desktop::no_bus) {
        // Neither an address nor a runtime directory that could hold a bus socket. Nothing is made on disk: a test
        // program ended with _Exit (a death test's child) leaves nothing behind.
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        return true;
    }
    address_ = g_bus.address(&error_);
    if (address_.empty()) {
        return false;
    }
    setenv("XDG_RUNTIME_DIR", g_bus.runtime_dir().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    if (desktop_ == Desktop::bus_only) {
        if (!wait_for_owner(false)) {
            error_ = "another keyring still answers on the bus";
            return false;
        }
        return true;
    }
    return start_keyring();
}

bool KeyringSession::start_keyring() {
    if (access(kKeyringDaemon, X_OK) != 0) {
        error_ = std::string(kKeyringDaemon) + " is missing: scripts/install-deps.sh installs gnome-keyring";
        return false;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "kd5keyring.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error_ = std::string("no temporary directory: ") + std::strerror(errno);
        return false;
    }
    dir_ = pattern;
    for (const char* sub : {"/keyring", "/data", "/config", "/cache"}) {
        mkdir((dir_ + sub).c_str(), 0700);
    }
    int password_pipe[2];
    if (pipe2(password_pipe, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    keyring_pid_ = spawn({kKeyringDaemon, "--foreground", "--unlock", "--components=secrets",
                          "--control-directory=" + dir_ + "/keyring"},
                         {"PATH=/usr/bin:/bin", "HOME=" + dir_, "XDG_DATA_HOME=" + dir_ + "/data",
                          "XDG_CONFIG_HOME=" + dir_ + "/config", "XDG_CACHE_HOME=" + dir_ + "/cache",
                          "XDG_RUNTIME_DIR=" + g_bus.runtime_dir(), "DBUS_SESSION_BUS_ADDRESS=" + address_},
                         dir_ + "/keyring.log", password_pipe[0]);
    close(password_pipe[0]);
    // --unlock reads the login password up to the end of its input, and makes the login keyring with it.
    [[maybe_unused]] ssize_t written = write(password_pipe[1], kKeyringPassword, sizeof kKeyringPassword - 1);
    close(password_pipe[1]);
    if (keyring_pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    Bus bus(address_);
    bool exited = false;
    bool up = wait_until(
        [&] {
            exited = waitpid(keyring_pid_, nullptr, WNOHANG) == keyring_pid_;
            return exited || bus.has_owner(kSecrets);
        },
        kStartMs);
    if (exited) {
        keyring_pid_ = -1;
    }
    if (exited || !up) {
        error_ = "gnome-keyring-daemon did not start: " + keyring_log();
        return false;
    }
    return true;
}

bool KeyringSession::wait_for_owner(bool owned) {
    Bus bus(address_);
    return wait_until([&] { return bus.has_owner(kSecrets) == owned; }, kStartMs);
}

std::string KeyringSession::keyring_log() const {
    return dir_.empty() ? "" : read_file(dir_ + "/keyring.log");
}

bool KeyringSession::lock() {
    Bus bus(address_);
    GVariant* collection = bus.call(kSecrets, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                                    "ReadAlias", g_variant_new("(s)", "default"));
    if (collection == nullptr) {
        return false;
    }
    const gchar* path = nullptr;
    g_variant_get(collection, "(&o)", &path);
    const gchar* paths[] = {path};
    GVariant* reply = bus.call(kSecrets, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
                               g_variant_new("(@ao)", g_variant_new_objv(paths, 1)));
    g_variant_unref(collection);
    if (reply == nullptr) {
        return false;
    }
    g_variant_unref(reply);
    GVariant* locked = bus.property(kDefaultCollection, "org.freedesktop.Secret.Collection", "Locked");
    bool is_locked = locked != nullptr && g_variant_get_boolean(locked);
    if (locked != nullptr) {
        g_variant_unref(locked);
    }
    return is_locked;
}

void KeyringSession::pause() {
    if (keyring_pid_ > 0) {
        kill(-keyring_pid_, SIGSTOP);
    }
}

void KeyringSession::resume() {
    if (keyring_pid_ > 0) {
        kill(-keyring_pid_, SIGCONT);
    }
}

std::vector<KeyringSession::Item> KeyringSession::items() const {
    std::vector<Item> items;
    Bus bus(address_);
    GVariant* paths = bus.property(kDefaultCollection, "org.freedesktop.Secret.Collection", "Items");
    if (paths == nullptr) {
        return items;
    }
    gsize count = 0;
    const gchar** list = g_variant_get_objv(paths, &count);
    for (gsize i = 0; i < count; ++i) {
        Item item;
        item.path = list[i];
        item.label = text_of(bus.property(list[i], "org.freedesktop.Secret.Item", "Label"));
        GVariant* locked = bus.property(list[i], "org.freedesktop.Secret.Item", "Locked");
        item.locked = locked != nullptr && g_variant_get_boolean(locked);
        if (locked != nullptr) {
            g_variant_unref(locked);
        }
        GVariant* attributes = bus.property(list[i], "org.freedesktop.Secret.Item", "Attributes");
        if (attributes != nullptr) {
            GVariantIter iter;
            g_variant_iter_init(&iter, attributes);
            const gchar* name = nullptr;
            const gchar* value = nullptr;
            while (g_variant_iter_next(&iter, "{&s&s}", &name, &value)) {
                item.attributes[name] = value;
            }
            g_variant_unref(attributes);
        }
        items.push_back(item);
    }
    g_free(list);
    g_variant_unref(paths);
    return items;
}

std::string KeyringSession::secret(const std::string& item_path) const {
    Bus bus(address_);
    GVariant* opened = bus.call(kSecrets, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
                                "OpenSession", g_variant_new("(sv)", "plain", g_variant_new_string("")));
    if (opened == nullptr) {
        return "";
    }
    GVariant* output = nullptr;
    const gchar* session = nullptr;
    g_variant_get(opened, "(v&o)", &output, &session);
    GVariant* reply = bus.call(kSecrets, item_path.c_str(), "org.freedesktop.Secret.Item", "GetSecret",
                               g_variant_new("(o)", session));
    std::string secret;
    if (reply != nullptr) {
        GVariant* value = nullptr;
        g_variant_get(reply, "((o@ay@ays))", nullptr, nullptr, &value, nullptr);
        gsize length = 0;
        const char* bytes = static_cast<const char*>(g_variant_get_fixed_array(value, &length, 1));
        secret.assign(bytes, length);
        g_variant_unref(value);
        g_variant_unref(reply);
    }
    g_variant_unref(output);
    g_variant_unref(opened);
    return secret;
}
