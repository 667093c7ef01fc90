// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// A desktop login session for the secrets in the keyring: a private D-Bus session bus (a dbus-daemon with a
// configuration that activates no service, so that nothing but what the test starts answers on it) and on it a
// real GNOME Keyring of the test's own, unlocked with a password on standard input, its keyrings in a temporary
// directory. While the object lives DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR point into it, for this process
// and the programs it starts; their old values come back at the end, and the keyring daemon is ended.
//
// The bus is one per test process, started by the first session and ended when the process ends: GDBus keeps the
// session bus it first connected to for the life of the process, as a desktop program's bus lives as long as the
// login. Each session brings a keyring of its own onto it, so no test sees another's items or its locked keyring.
// A missing dbus-daemon or gnome-keyring-daemon is an error of start(), never a reason to skip.
class KeyringSession {
public:
    enum class Desktop {
        keyring,  // the bus and an unlocked GNOME Keyring on it
        bus_only, // the bus, and no Secret Service on it (a desktop without a keyring daemon)
        no_bus,   // no session bus at all (headless, a login over ssh)
    };

    // An item of the keyring as the Secret Service shows it, read over a connection of the harness's own.
    struct Item {
        std::string path;
        std::string label;
        std::map<std::string, std::string> attributes;
        bool locked = false;
    };

    explicit KeyringSession(Desktop desktop = Desktop::keyring);
    ~KeyringSession();
    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    // Starts what the desktop has; true once the keyring answers on the bus. False, with the reason in error().
    bool start();
    const std::string& error() const { return error_; }
    const std::string& dir() const { return dir_; } // the keyring's own files; empty without a keyring
    std::string keyring_log() const; // what gnome-keyring-daemon said

    // Locks the default keyring, as a screen lock or the keyring's own time-out does. Unlocking it again needs a
    // prompt, which this session has none of: a test that locks keeps it locked.
    bool lock();
    // SIGSTOP and SIGCONT to the keyring daemon: a Secret Service that has stopped answering.
    void pause();
    void resume();

    // Every item of the default keyring, and the one secret of an item (read through a plain session of the
    // Secret Service, so the test sees what is stored without the product's code in between).
    std::vector<Item> items() const;
    std::string secret(const std::string& item_path) const;

private:
    bool start_keyring();
    bool wait_for_owner(bool owned);

    Desktop desktop_;
    std::string dir_;
    std::string error_;
    std::string address_;
    pid_t keyring_pid_ = -1;
    std::string old_address_;
    bool had_address_ = false;
    std::string old_runtime_;
    bool had_runtime_ = false;
};
