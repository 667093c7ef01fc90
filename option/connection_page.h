// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/page.h"
#include "settings/settings.h"

#include <string>
#include <vector>

class DiscoveryTask;
class FingerprintEdit;
class QCheckBox;
struct AddressFill;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Tab " 连接 ": how the mail check reaches each account's server and how it signs in there. Eleven choices and
// fields per account do not fit three times into one page, so the page shows one account at a time: the chooser
// at the top picks the account (red, green or yellow LED), and Apply writes all three.
//
// Per account, in the group 服务器: the protocol (POP3 or IMAP), in clear, STLS/STARTTLS or TLS from the first
// byte, the server as the setup program keeps it (shown here, changed only by 按地址填写 or a provider's preset),
// the IMAP folders to watch (one, a list chosen from the server's own with 列出…, or every folder but Junk, Trash,
// Sent and the like), and the SHA-256 fingerprint of a certificate to trust although no authority vouches
// for it. In the group 登录方式: the password or OAuth2, the token source, and the source's own controls (the
// provider, a client id of the user's own and 登录… for the sign-in in the browser; the desktop's online account;
// the token command). Only the chosen source's controls are shown, and they are disabled for a password account.
// The note below them says what 按地址填写 and 登录… did. For a domain the provider table does not know, 按地址填写
// searches the domain's published settings on a thread of its own: the note shows what it is doing, the button
// turns into 取　消 until it ends, and the window keeps answering. Below the groups: whether the account's LED
// blinks slowly while the account cannot be checked (HealthBlink).
//
// Controls: "account" (the chooser), and per account (1 to 3) "fill<account>", "protocol<account>",
// "security<account>", "server<account>", "folder_choice<account>", "folder<account>", "list_folders<account>",
// "fingerprint<account>", "auth<account>",
// "source<account>", "provider<account>", "client_id<account>", "sign_in<account>", "online<account>",
// "token_command<account>", "note<account>", "health_blink<account>"; "apply".
class CConnectionPage : public Page {
    Q_OBJECT
public:
    explicit CConnectionPage(QWidget* parent);

    // false when the keyring items of an account could not follow a changed protocol or server: those two stay as
    // the file has them (a box says why), the rest is written.
    bool apply();
    // The setup program keeps the server: shows what it saved since, where this page has not changed it.
    void refresh() override;
    // Shows the controls of account (0 to 2), as choosing it in the chooser does.
    void show_account(int account);

protected:
    void showEvent(QShowEvent* event) override;

private:
    static constexpr int kSourceCount = 3; // browser, online accounts, token command

    struct ConnectionRow {
        QPushButton* fill;
        QComboBox* protocol;
        QComboBox* security;
        QLineEdit* server;
        QComboBox* folder_choice; // one folder, a list, every folder
        QLineEdit* folder;        // one: the Folder; else the list's names, or what every folder leaves out
        QPushButton* list_folders;
        FingerprintEdit* fingerprint;
        QComboBox* auth;
        QComboBox* source;
        QComboBox* provider;
        QLineEdit* client_id;
        QPushButton* sign_in;
        QComboBox* online;
        QLineEdit* token_command;
        QLabel* note;
        QCheckBox* health_blink;
        std::vector<QWidget*> controls;                // shown while the account is chosen
        std::vector<QWidget*> by_source[kSourceCount]; // shown while the account and its source are chosen
        std::string stored_server;                     // ServerName as read or last written by this page
        std::string one_folder;                        // Folder while the edit shows another choice
        std::vector<std::string> folder_list;          // the list's folders, in the order chosen
        DiscoveryTask* search = nullptr;               // the search 按地址填写 started, while it runs
    };

    QComboBox* add_choice(const char* name, const QStringList& items, int x, int y, int width, int height);
    void add_account(int account);
    void load_account(int account);
    void connect_account(int account);
    void update_controls(int account);

    void choose_auth(int account);
    void choose_provider(int account);
    void choose_protocol(int account);
    void fill_from_address(int account);
    void search_address(int account, const std::string& address);
    void take_fill(int account, const AddressFill& fill);
    void sign_in(int account);
    void choose_folders(int account);
    void show_folder_choice(int account);
    void list_server_folders(int account);
    void list_online_accounts();

    QComboBox* chooser_;
    ConnectionRow rows_[kAccountCount];
    int shown_ = 0;
    bool signing_in_ = false;
    bool told_kept_in_file_ = false; // a refresh token kept in the file is said once, in a box
    bool listed_ = false; // the online accounts were asked for once; a hung service then costs one wait only
};
