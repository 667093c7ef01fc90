// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_ids.h"
#include "mail/imap/folder_choice.h"
#include "mail/imap/folder_count.h"
#include "mail/net/cancel_signal.h"
#include "push/push.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ImapSession;

// Why a connection's waits were cancelled; a stop stays, the others are taken once.
enum WatchReason : unsigned { kWatchStop = 1, kWatchNetwork = 2, kWatchResumed = 4, kWatchCount = 8 };

// The push of one IMAP account: its watched folders and the connections that watch them. The first connection
// (the primary) logs in, learns which folders are watched, and watches them all with NOTIFY (RFC 5465) where the
// server offers it; otherwise it IDLEs on the first folder and starts one more connection for each of the next
// two, and counts the rest when the monitor asks. Each connection counts the folders it watches as soon as the
// server tells of a change, on itself, and the monitor's pass then takes those counts instead of logging in
// again. The watch never touches the lamp or the settings; it keeps its own copy of the account.
class AccountWatch {
public:
    explicit AccountWatch(const Account& account);
    ~AccountWatch();
    AccountWatch(const AccountWatch&) = delete;
    AccountWatch& operator=(const AccountWatch&) = delete;

    int index() const { return account_.index; }
    // Starts the primary connection's thread; false (with the error line) when none could be had.
    bool start();
    // Raises why on every connection (a stop, a change of the network).
    void raise(unsigned why);
    // Stops every connection (DONE, LOGOUT, close) and joins their threads.
    void stop();

    // The monitor's side: the account's count over its watched folders as the connections took it, ids filled as
    // a check fills them. A count older than fresh_ms (or one of folders no connection pushes) is taken again on
    // the primary connection first, the wait cut short by stopped(). False when the watch has none to give (not
    // up, without IDLE, gone meanwhile): the caller then checks on a connection of its own.
    bool take_count(CheckIds* ids, long long& count, long long fresh_ms, bool (*stopped)());
    // Whether the primary connection is up (push_state in push.h), on any thread.
    PushState state() const { return state_; }

private:
    struct Link;
    // One watched folder, its way of being watched and its last count.
    struct Slot {
        std::string name;
        FolderWatch watch = FolderWatch::interval;
        bool counted = false;
        FolderCount count;
        FolderMemory memory;     // what the next count of it builds on, whichever connection makes it
        std::uint64_t order = 0; // when that count began: a later one wins
    };
    // A count made on a connection, for publish().
    struct Counted {
        FolderCount count;
        FolderMemory memory;
    };
    enum class Opened { ready, no_idle, failed };
    enum class Leave { stopped, gone, network };

    void run(Link& link);
    Opened open(ImapSession& session, Link& link);
    bool begin_primary(ImapSession& session, Link& link);
    bool begin_secondary(ImapSession& session, Link& link);
    Leave stay(ImapSession& session, Link& link);
    bool recount_changes(ImapSession& session, Link& link);
    bool count_everything(ImapSession& session, Link& link);
    bool resume_watch(ImapSession& session, Link& link);
    bool refused_for_limit(const ImapSession& session, const Link& link);
    bool count_folders(ImapSession& session, const std::vector<std::string>& folders,
                       const std::vector<MailboxStatus>& told, bool announce, bool full);
    void plan(const std::vector<std::string>& folders, bool notify);
    void start_links();
    void publish(std::vector<Counted>& counted, std::uint64_t began, bool announce, bool full);
    std::vector<std::string> folders_of(const Link& link) const;
    std::string own_folder() const;
    void pause_before_retry(Link& link, int ms);
    void set_state(bool primary, PushState state);
    void leave(ImapSession& session, Link& link);

    const Account account_;
    std::atomic<PushState> state_{PushState::none};
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    std::vector<Slot> slots_; // the plan, in watch order
    bool notify_ = false;     // the primary watches every folder with NOTIFY
    bool planned_ = false;
    bool primary_up_ = false;
    bool pending_ = false; // a change counted that no pass has taken yet
    bool stopping_ = false;
    bool limited_ = false;             // a connection was refused for the server's limit: no more are started
    std::uint64_t asked_ = 0;          // full counts asked for by the monitor
    std::uint64_t answered_count_ = 0; // and made
    std::chrono::steady_clock::time_point full_at_{};
    std::vector<std::unique_ptr<Link>> links_; // [0]: the primary; the others are the primary's to start
};
