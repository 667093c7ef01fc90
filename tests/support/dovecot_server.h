// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A real Dovecot IMAP server for one test, all of it in a temporary directory of its own: its configuration,
// passwd-file users, Maildirs, sockets and log, listening on loopback ports chosen at run time (imap, and imaps when
// it has a certificate, which also makes it offer STARTTLS; with pop3 set also pop3, and pop3s with a certificate).
// With an introspection URL it also takes OAuth2 bearer tokens (XOAUTH2, OAUTHBEARER) through an oauth2 passdb that
// asks the token provider at that URL whether a token is active and whose it is. It runs as root (CI: the mail
// processes then run as nobody and the login processes as dovenull) and as an ordinary user (everything as that user).
// Every process it started is ended with the object. Dovecot missing is an error of start(), never a reason to skip.
class DovecotServer {
public:
    struct Options {
        std::string certificate_file; // PEM, with the key below: TLS on the imaps port and STARTTLS on imap
        std::string key_file;
        bool pop3 = false;                    // serve POP3 too (dovecot-pop3d)
        std::string oauth2_introspection_url = {}; // e.g. the test provider's "http://127.0.0.1:port/introspect"
        std::string oauth2_mechanisms = "oauthbearer xoauth2";
        // What CAPABILITY names once logged in (imap_capability) instead of Dovecot's own: a server without NOTIFY.
        std::string capability = {};
        // A refused login answered at once, every time: no failure delay, and no penalty growing with each failure
        // from one address (up to 15 s, beyond a scaled check's patience).
        bool quick_refusals = false;
    };
    // Dovecot 2.3's own capabilities once logged in, without NOTIFY.
    static constexpr char kWithoutNotify[] =
        "IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE SORT SORT=DISPLAY THREAD=REFERENCES THREAD=REFS "
        "THREAD=ORDEREDSUBJECT MULTIAPPEND URL-PARTIAL CATENATE UNSELECT CHILDREN NAMESPACE UIDPLUS LIST-EXTENDED "
        "I18NLEVEL=1 CONDSTORE QRESYNC ESEARCH ESORT SEARCHRES WITHIN CONTEXT=SEARCH LIST-STATUS BINARY MOVE "
        "LITERAL+ SPECIAL-USE";

    DovecotServer() : DovecotServer(Options{}) {}
    explicit DovecotServer(Options options);
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // An account with an empty INBOX; call before start().
    void add_user(const std::string& name, const std::string& password);

    // Writes the configuration and starts Dovecot in the foreground of a process group of its own; true once the
    // imap port takes connections. False, with the reason in error(), otherwise.
    bool start();
    // Ends every process of the group: SIGTERM, then SIGKILL to what is left after a few seconds.
    void stop();
    // stop() and start() on the same ports.
    bool restart();
    // SIGSTOP and SIGCONT to every process of the group: a server that has stopped answering without a word.
    void pause();
    void resume();

    int imap_port() const { return imap_port_; }
    int imaps_port() const { return imaps_port_; }
    int pop3_port() const { return pop3_port_; }
    int pop3s_port() const { return pop3s_port_; }
    // The address as a ServerName setting: "127.0.0.1:port".
    std::string server_name(bool tls = false) const;
    std::string pop3_server_name(bool tls = false) const;
    const std::string& error() const { return error_; }
    const std::string& dir() const { return dir_; }
    std::string log() const; // Dovecot's own log

    // Delivers a message into the user's INBOX as a delivery agent does: written into the Maildir's tmp/, then
    // renamed into new/.
    bool deliver(const std::string& user, const std::string& message);
    // A folder of the user's, made with doveadm once the server runs; "/" separates the levels. Junk, Trash, Sent
    // and Drafts carry their SPECIAL-USE attributes, as Debian's Dovecot configures them.
    bool add_folder(const std::string& user, const std::string& folder) const;
    bool delete_folder(const std::string& user, const std::string& folder) const;
    // Delivers a message into a folder as an MTA's Sieve fileinto does, through Dovecot's LDA (dovecot-lda -d USER
    // -m FOLDER), which updates the indexes NOTIFY reads; a file written straight into a folder's Maildir does not.
    bool deliver_to(const std::string& user, const std::string& folder, const std::string& message) const;
    // Marks the messages of a folder that the doveadm search query finds ("all", "from taro") read.
    bool mark_read(const std::string& user, const std::string& folder, const std::string& query = "all") const;
    // Runs doveadm with this server's configuration; its output in *output.
    bool doveadm(const std::vector<std::string>& arguments, std::string* output = nullptr) const;
    // Marks every message of the user's INBOX read, as another mail program would.
    bool mark_all_read(const std::string& user) const;
    // The flags of every message of the user's INBOX, one line per message ("\Seen \Recent").
    std::string flags(const std::string& user) const;

private:
    struct User {
        std::string name;
        std::string password;
    };

    bool write_configuration();
    std::string maildir(const std::string& user) const { return dir_ + "/home/" + user + "/Maildir"; }
    void own(const std::string& path) const; // gives a path to the mail user (root only)

    Options options_;
    std::vector<User> users_;
    std::string dir_;
    std::string error_;
    int imap_port_ = 0;
    int imaps_port_ = 0;
    int pop3_port_ = 0;
    int pop3s_port_ = 0;
    uid_t mail_uid_ = 0;
    gid_t mail_gid_ = 0;
    pid_t pid_ = -1; // the master, leader of the process group
    unsigned deliveries_ = 0;
};
