// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_outcome.h"
#include "mail/imap/imap_parser.h"
#include "mail/imap/imap_session.h"
#include "mail/net/mail_connection.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The inside of the IMAP session (imap_session.h): the steps of the dialogue as its error lines name them, and the
// command that the session's one exchange sends and reads the answer of.

struct ImapStep {
    const char* name; // in the error lines
    CheckStep check;  // where a check that ends here ended
};

inline constexpr ImapStep kGreeting{"a connection confirmation", CheckStep::greeting};
// CAPABILITY where the greeting named none, after TLS, and after the login.
inline constexpr ImapStep kCapability{"a capability command", CheckStep::greeting};
inline constexpr ImapStep kCapabilityTls{"a capability command", CheckStep::tls};
inline constexpr ImapStep kCapabilityLogin{"a capability command", CheckStep::login};
inline constexpr ImapStep kStarttls{"a STARTTLS command", CheckStep::tls};
inline constexpr ImapStep kLogin{"a login", CheckStep::login};
inline constexpr ImapStep kId{"an identification command", CheckStep::login};
inline constexpr ImapStep kEnable{"an enable command", CheckStep::folder};
inline constexpr ImapStep kExamine{"a folder examination command", CheckStep::folder};
inline constexpr ImapStep kStatus{"a folder status command", CheckStep::count};
inline constexpr ImapStep kList{"a folder list command", CheckStep::folder};
inline constexpr ImapStep kNotify{"a NOTIFY command", CheckStep::folder};
inline constexpr ImapStep kSearch{"an unread search command", CheckStep::count};
inline constexpr ImapStep kFetch{"a header fetch command", CheckStep::headers};
inline constexpr ImapStep kLogout{"an end command", CheckStep::logout};
// The push watches the examined folder.
inline constexpr ImapStep kIdle{"an IDLE command", CheckStep::folder};
inline constexpr ImapStep kDone{"an IDLE end", CheckStep::folder};

// The error-log lines of a step; %s is the step's name.
inline constexpr char kSendFailed[] =
    "check mail ---> The transmission of a message is abnormal to IMAP [%s][no.%d error: %d]";
inline constexpr char kReceiveFailed[] =
    "check mail ---> The reception of an IMAP confirmation [%s] message is abnormal[no.%d error: %d]";
inline constexpr char kRefused[] =
    "check mail ---> Contents abnormality of an IMAP confirmation [%s] message[no.%d error: %d]";
inline constexpr char kBye[] = "check mail ---> The IMAP server ended the connection [%s][no.%d error: %d]";
inline constexpr char kBroken[] = "check mail ---> The IMAP server broke the protocol [%s][no.%d error: %d]";

// What a command's handler makes of a response.
enum class ImapTurn {
    go_on,  // read the next response
    done,   // the command is over (IDLE at its go-ahead)
    broken, // the server said something out of turn
};

// One command: its pieces, its limits, and what handles each kind of response. The exchange (ImapSession::command)
// sends the first piece with the tag, each later piece at a continuation, and reads every response up to the end.
struct ImapCommand {
    const ImapStep* step = nullptr;
    // The first piece gets the tag; each later one waits for the server's go-ahead (literals, RFC 3501 7.5). They
    // may hold the password: their storage is wiped when the command is done.
    std::vector<std::string> pieces{};
    // One deadline for all of the answer: a server that keeps talking must not keep the command going.
    int timeout_ms = MailConnection::receive_budget_ms();
    // What all the responses may bring together; more is no sound answer to the command.
    std::size_t byte_budget = SIZE_MAX;
    // Empty: a tag of its own. Set (DONE): the pieces go without a tag, and the tagged answer is the one of the
    // command with this tag. The tag used is here once the command has been sent.
    std::string tag{};
    bool follows = false;
    bool learns_capabilities = true; // [CAPABILITY] and CAPABILITY responses renew the session's list
    bool counts_flood = false;       // a response in IDLE: kIdleFloodLines within the flood window break it
    // The untagged responses the command's answer brings, by keyword (" EXISTS RECENT "): any other change the
    // server tells meanwhile is one it told on its own (ImapSession::take_changes).
    std::string_view owns = " ";
    // LOGOUT: a goodbye the check no longer depends on. BYE and continuations are taken in stride, a failed send
    // writes no line of the session's own, and the end of the time ends it quietly.
    bool goodbye = false;
    // A continuation after the last piece: the answer to send (without line end; wiped once sent), done, or broken.
    std::function<ImapTurn(const ImapResponse&, std::string& answer)> on_continuation{};
    // An untagged response other than BYE, with the command's tag.
    std::function<ImapTurn(const ImapResponse&, const std::string& tag)> on_untagged{};
    // The tagged answer; ours: it carries the command's tag and follows the grammar. Empty: ours and OK is the
    // command done, ours and anything else the step's refusal, not ours a broken server.
    std::function<ImapSession::Result(const ImapResponse&, bool ours)> on_tagged{};
};

// What a response is read within: the step whose lines a failure writes, the deadline of every read, and the bytes
// still allowed.
struct ImapExchange {
    const ImapStep* step = nullptr;
    std::chrono::steady_clock::time_point deadline{};
    std::size_t bytes_left = SIZE_MAX;
    bool answer_due = true; // an untagged response past the deadline means the answer never came
    bool counts_flood = false;
    bool goodbye = false;
    std::string* first_line = nullptr; // the greeting: its line as it came, for the probe to show
};
