// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/imap/folder_choice.h"
#include "mail/net/cancel_signal.h"

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QListWidget;
class QThread;

// The 连接 tab's 列出…: the server's own folders, asked for with LIST on a thread of its own for the account as the
// settings file holds it (the page saves itself first, as 登录… does), shown with their decoded names to be ticked.
// The window keeps answering meanwhile; closing the list cuts the connection short.

// What a list of folders takes in the Folders key at most.
inline constexpr std::size_t kFoldersBytes = 1000;

// One LIST on a thread of its own; the result comes back on the thread that made the task, through its event loop.
// Destroying the task cancels the connection and waits for its thread.
class FolderListTask : public QObject {
public:
    // 0 and the folders, or -1 and the line of what failed.
    using Done = std::function<void(int result, const std::vector<ServerFolder>& folders, const std::string& error)>;
    // The account as the settings file holds it (folder_list_account); its password is looked up in the desktop
    // keyring on the task's thread where it is kept there.
    FolderListTask(Account account, Done done, QObject* parent = nullptr);
    ~FolderListTask() override;
    FolderListTask(const FolderListTask&) = delete;
    FolderListTask& operator=(const FolderListTask&) = delete;

private:
    CancelSignal cancel_;
    QThread* thread_ = nullptr;
};

// The account at index as the settings file holds it now, its plain password copied out of the file's pair and
// not left in the program's settings record.
Account folder_list_account(int index);

// The list to tick: the chosen names ticked, those "every folder" would leave out (Junk, Trash, ...) shown but not
// ticked, those that cannot be opened not offered. Controls: "folders" (the list), "folders_note", "folders_ok".
class CFolderListDlg : public QDialog {
public:
    CFolderListDlg(QWidget* parent, int account, std::vector<std::string> chosen);

    // The ticked folders in the server's order, INBOX first.
    std::vector<std::string> chosen() const;

private:
    void show_folders(int result, const std::vector<ServerFolder>& folders, const std::string& error);
    void check_size();

    std::vector<std::string> chosen_;
    QLabel* note_ = nullptr;
    QListWidget* list_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    FolderListTask* task_ = nullptr;
};
