// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/imapserver/imap_server.h"

#include "mail/imap/imap_parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxLine = 64 * 1024;        // a longer command line is cut there
constexpr std::uint64_t kMaxLiteral = 1024 * 1024; // a longer literal ends the session

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

bool has_word(const std::string& words, const std::string& word) {
    const std::string padded = std::string(" ").append(upper(words)).append(" ");
    return padded.find(std::string(" ").append(upper(word)).append(" ")) != std::string::npos;
}

std::string header_of(const std::string& message) {
    std::size_t end = message.find("\r\n\r\n");
    return end == std::string::npos ? message : message.substr(0, end + 4);
}

std::string base64_decoded(const std::string& text) {
    std::string out(text.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) {
        return {};
    }
    // EVP_DecodeBlock counts the bytes that the padding stands for.
    std::size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    out.resize(static_cast<std::size_t>(n) - std::min(padding, static_cast<std::size_t>(n)));
    return out;
}

// The message numbers of a sequence set ("1:3,5,7:*") within 1..count, in order.
std::vector<std::size_t> sequence_set(const std::string& set, std::size_t count) {
    std::vector<std::size_t> numbers;
    auto number = [count](const std::string& t) -> std::size_t {
        return t == "*" ? count : static_cast<std::size_t>(std::strtoul(t.c_str(), nullptr, 10));
    };
    std::size_t start = 0;
    while (start <= set.size()) {
        std::size_t comma = set.find(',', start);
        std::string part = set.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::size_t colon = part.find(':');
        std::size_t low = number(part.substr(0, colon));
        std::size_t high = colon == std::string::npos ? low : number(part.substr(colon + 1));
        if (low > high) {
            std::swap(low, high);
        }
        for (std::size_t n = std::max<std::size_t>(low, 1); n <= high && n <= count; ++n) {
            numbers.push_back(n);
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return numbers;
}

std::string tagged(const std::string& tag, const std::string& text) {
    return tag + " " + text + "\r\n";
}

std::string base64_encoded(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The value of "name=" in a client's OAuth2 message: its ^A-separated pairs (RFC 7628 3.1, XOAUTH2 likewise), or
// for "a=" the authorisation identity of the GS2 header ("n,a=user,").
std::string oauth_value(const std::string& message, const std::string& name) {
    for (std::size_t start = 0; start < message.size();) {
        std::size_t end = message.find_first_of(name == "a=" ? ",\x01" : "\x01", start);
        std::string part = message.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.starts_with(name)) {
            return part.substr(name.size());
        }
        start = end == std::string::npos ? message.size() : end + 1;
    }
    return {};
}

// A mailbox name as a quoted string, with a backslash before a quote and a backslash.
std::string quoted_name(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    }
    return quoted + "\"";
}

} // namespace

struct ImapServer::Session : ServerConnection {
    bool muted = false;
    bool identified = false; // sent ID
    bool utf8 = false;       // enabled UTF8=ACCEPT
    std::string user; // once logged in
    bool selected = false;
    bool read_only = false;
    std::string folder; // the selected one, as the client named it
    // NOTIFY SET (RFC 5465): the folders whose changes are told as STATUS; every folder with notify_all.
    bool notify_all = false;
    std::vector<std::string> notify_folders;
    // Under the server's mutex: what is told to this client before its next answer, or at once in IDLE, and
    // whether it idles. The pipe wakes it in IDLE.
    std::string outbox;
    bool idling = false;
    int wake[2] = {-1, -1};

    bool notifies(const std::string& name) const {
        return notify_all || std::find(notify_folders.begin(), notify_folders.end(), name) != notify_folders.end();
    }
};

ImapServer::ImapServer(std::map<std::string, ImapMailbox> mailboxes, ImapScript script)
    : ScriptedServer(script.tls != ImapTls::none, script.certificate_file, script.key_file), script_(std::move(script)),
      mailboxes_(std::move(mailboxes)) {
    if (script_.parallel) {
        serve_in_parallel();
    }
}

ImapServer::~ImapServer() {
    stop(); // the server threads use this object's members until they have ended
}

bool ImapServer::idling() const {
    std::lock_guard lock(mutex_);
    return std::any_of(sessions_.begin(), sessions_.end(), [](const Session* s) { return s->idling; });
}

int ImapServer::idling_on(const std::string& folder) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(sessions_.begin(), sessions_.end(), [&folder](const Session* s) {
        return s->idling && s->selected && s->folder == folder;
    }));
}

// Called with the mutex held.
std::vector<ImapMessage>* ImapServer::folder_of(const std::string& user, const std::string& folder) {
    auto box = mailboxes_.find(user);
    if (box == mailboxes_.end()) {
        return nullptr;
    }
    const bool inbox = upper(script_.folder) == "INBOX";
    if (folder.empty() || (inbox ? upper(folder) == "INBOX" : folder == script_.folder)) {
        return &box->second.messages;
    }
    for (ImapFolder& f : box->second.folders) {
        if (f.name == folder && !has_word(f.attributes, "\\Noselect") && !has_word(f.attributes, "\\NonExistent")) {
            return &f.messages;
        }
    }
    return nullptr;
}

void ImapServer::wake(Session& s) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(s.wake[1], &byte, 1);
}

// Tells the user's clients of a change to a message of the folder, as a server does (mutex held).
void ImapServer::tell(const std::string& user, const std::string& folder, std::size_t message, bool delivered) {
    const std::vector<ImapMessage>* messages = folder_of(user, folder);
    const std::string name = folder.empty() ? script_.folder : folder;
    for (Session* s : sessions_) {
        if (s->user != user || messages == nullptr) {
            continue;
        }
        const bool here = s->selected && folder_of(user, s->folder) == messages;
        if (here) {
            s->outbox += delivered ? "* " + std::to_string(messages->size()) + " EXISTS\r\n"
                                   : "* " + std::to_string(message + 1) + " FETCH (FLAGS (\\Seen))\r\n";
        } else if (s->notifies(name)) {
            s->outbox += status_line(name, *messages);
        } else {
            continue;
        }
        wake(*s);
    }
}

void ImapServer::deliver(const std::string& user, const std::string& text, const std::string& folder) {
    std::lock_guard lock(mutex_);
    std::vector<ImapMessage>* messages = folder.empty() ? &mailboxes_[user].messages : folder_of(user, folder);
    if (messages != nullptr) {
        messages->push_back({text, false});
        tell(user, folder, messages->size() - 1, true);
    }
}

void ImapServer::mark_seen(const std::string& user, std::size_t message, const std::string& folder) {
    std::lock_guard lock(mutex_);
    std::vector<ImapMessage>* messages = folder_of(user, folder);
    if (messages != nullptr && message < messages->size()) {
        (*messages)[message].seen = true;
        tell(user, folder, message, false);
    }
}

void ImapServer::remove_folder(const std::string& user, const std::string& folder) {
    std::lock_guard lock(mutex_);
    std::vector<ImapFolder>& folders = mailboxes_[user].folders;
    folders.erase(std::remove_if(folders.begin(), folders.end(), [&](const ImapFolder& f) { return f.name == folder; }),
                  folders.end());
}

std::vector<bool> ImapServer::seen(const std::string& user, const std::string& folder) const {
    std::lock_guard lock(mutex_);
    std::vector<bool> flags;
    if (const auto* messages = const_cast<ImapServer*>(this)->folder_of(user, folder)) {
        for (const ImapMessage& m : *messages) {
            flags.push_back(m.seen);
        }
    }
    return flags;
}

void ImapServer::push(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    bool told = false;
    for (Session* s : sessions_) {
        if (s->idling) {
            s->outbox += bytes;
            wake(*s);
            told = true;
        }
    }
    if (!told) {
        pushed_ += bytes;
    }
}

int ImapServer::open_sessions() const {
    std::lock_guard lock(mutex_);
    return open_sessions_;
}

void ImapServer::serve(int fd) {
    Session s;
    s.fd = fd;
    if (pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        s.wake[0] = s.wake[1] = -1;
    }
    {
        std::lock_guard lock(mutex_);
        ++open_sessions_;
        sessions_.push_back(&s);
    }
    if ((script_.tls != ImapTls::implicit || start_tls(s)) && answer(s, "GREETING", script_.greeting)) {
        std::string command;
        while (read_command(s, command) && handle(s, command)) {
        }
    }
    end(s);
    {
        std::lock_guard lock(mutex_);
        --open_sessions_;
        sessions_.erase(std::find(sessions_.begin(), sessions_.end(), &s));
    }
    close_fd(s.wake[0]);
    close_fd(s.wake[1]);
}

// The server's side of the handshake. False when it failed or stop() was called; a mute fault at "TLS" leaves the
// client waiting for a handshake that never comes.
bool ImapServer::start_tls(Session& s) {
    if (script_.fault == ImapFault::mute && script_.fault_at == "TLS") {
        s.muted = true;
        return true;
    }
    return accept_tls(s);
}

// One command: recorded, answered as scripted or as a server would. False ends the session.
bool ImapServer::handle(Session& s, const std::string& command) {
    record(command);
    if (s.muted) {
        return true;
    }
    std::size_t space = command.find(' ');
    std::string tag = command.substr(0, space);
    ImapResponse parsed;
    std::string rest = space == std::string::npos ? "" : command.substr(space + 1);
    // The arguments read as the data of an untagged response: the same grammar of atoms, strings and literals.
    parse_imap_response("* " + rest + "\r\n", parsed);
    // UID SEARCH and UID FETCH are SEARCH and FETCH to the script: its replies and faults name those.
    const bool uid = parsed.keyword == "UID" && !parsed.data.empty() && parsed.data[0].kind == ImapValue::Kind::atom;
    if (uid) {
        parsed.keyword = upper(parsed.data[0].text);
        parsed.data.erase(parsed.data.begin());
        parsed.keyword = parsed.keyword == "SEARCH" || parsed.keyword == "FETCH" ? parsed.keyword : "UID";
    }
    const std::string name = parsed.keyword;
    // What the server has to tell of changes goes before the answer, as untagged responses do.
    std::string told;
    {
        std::lock_guard lock(mutex_);
        told.swap(s.outbox);
    }
    if (auto scripted = script_.replies.find(name); scripted != script_.replies.end()) {
        std::string text = scripted->second;
        for (std::size_t at; (at = text.find("%TAG%")) != std::string::npos;) {
            text.replace(at, 5, tag);
        }
        return answer(s, name, told + text);
    }
    if (name == "IDLE" && !s.user.empty()) {
        {
            std::lock_guard lock(mutex_);
            s.outbox = told + s.outbox;
        }
        return idle(s, tag);
    }
    if (uid) {
        parsed.code = "UID"; // read by respond(): the numbers are UIDs
    }
    std::string text = told + respond(s, tag, parsed);
    if (name == "AUTHENTICATE" && text.empty()) {
        return false; // the client went away in the middle of the exchange
    }
    if (!answer(s, name, text) || name == "LOGOUT") {
        return false;
    }
    if (name == "STARTTLS" && text.starts_with(tag + " OK")) {
        s.pending.clear(); // what came after STARTTLS in clear is never taken as a command (RFC 3501 6.2.1)
        return start_tls(s);
    }
    return true;
}

// The normal answer to one command; the session's state changes only here.
std::string ImapServer::respond(Session& s, const std::string& tag, const ImapResponse& parsed) {
    const std::string& name = parsed.keyword;
    const std::vector<ImapValue>& args = parsed.data;
    const bool in_clear = s.ssl == nullptr;
    const bool offer_tls =
        script_.tls == ImapTls::starttls && (in_clear || script_.starttls_in_tls) && s.user.empty();
    const std::string& named =
        in_clear && !script_.clear_capabilities.empty() ? script_.clear_capabilities : script_.capabilities;
    const std::string capabilities = named + (offer_tls ? " STARTTLS" : "");
    if (name == "CAPABILITY") {
        return "* CAPABILITY " + capabilities + "\r\n" + tagged(tag, "OK CAPABILITY completed");
    }
    if (name == "NOOP") {
        return tagged(tag, "OK NOOP completed");
    }
    if (name == "LOGOUT") {
        return "* BYE logging out\r\n" + tagged(tag, "OK LOGOUT completed");
    }
    if (name == "STARTTLS") {
        return offer_tls && in_clear ? tagged(tag, "OK begin TLS negotiation now")
                                     : tagged(tag, "BAD STARTTLS not offered");
    }
    if (name == "ID") {
        s.identified = true;
        return "* ID (\"name\" \"kd5lite-imapserver\")\r\n" + tagged(tag, "OK ID completed");
    }
    if (s.user.empty()) {
        if (name == "LOGIN" && args.size() == 2) {
            if (has_word(capabilities, "LOGINDISABLED")) {
                return tagged(tag, "NO [PRIVACYREQUIRED] LOGIN is disabled");
            }
            return tagged(tag, login(s, args[0].text, args[1].text));
        }
        if (name == "AUTHENTICATE" && !args.empty() && upper(args[0].text) == "PLAIN" &&
            has_word(capabilities, "AUTH=PLAIN")) {
            return authenticate(s, tag, args.size() > 1 ? args[1].text : "");
        }
        if (name == "AUTHENTICATE" && !args.empty() && has_word(capabilities, "AUTH=" + upper(args[0].text))) {
            if (args.size() > 1 && !has_word(capabilities, "SASL-IR")) {
                return tagged(tag, "BAD initial response without SASL-IR");
            }
            return authenticate_oauth(s, tag, upper(args[0].text), args.size() > 1 ? args[1].text : "");
        }
        return tagged(tag, "BAD log in first");
    }
    if (name == "ENABLE") {
        std::string enabled;
        for (const ImapValue& v : args) {
            if (has_word(capabilities, v.text)) {
                enabled.append(" ").append(upper(v.text));
                s.utf8 = s.utf8 || upper(v.text) == "UTF8=ACCEPT";
            }
        }
        return "* ENABLED" + enabled + "\r\n" + tagged(tag, "OK ENABLE completed");
    }
    if (name == "STATUS") {
        return status(s, tag, args);
    }
    if (name == "LIST") {
        return list(s, tag, args);
    }
    if (name == "NOTIFY" && has_word(capabilities, "NOTIFY")) {
        return notify(s, tag, args);
    }
    if ((name == "SELECT" || name == "EXAMINE") && args.size() == 1) {
        const std::string& wanted = args[0].text;
        if (script_.unsafe_until_id && !s.identified) {
            return tagged(tag, "NO SELECT Unsafe Login. Please contact kefu@188.com for help");
        }
        if (!s.utf8 && std::any_of(wanted.begin(), wanted.end(), [](char c) { return (c & 0x80) != 0; })) {
            return tagged(tag, "BAD 8-bit mailbox name without UTF8=ACCEPT enabled");
        }
        std::lock_guard lock(mutex_);
        const std::vector<ImapMessage>* messages = folder_of(s.user, wanted);
        if (messages == nullptr) {
            s.selected = false;
            return tagged(tag, "NO [NONEXISTENT] no such mailbox");
        }
        s.selected = true;
        s.folder = wanted;
        s.read_only = name == "EXAMINE";
        std::string answer = "* FLAGS (\\Seen)\r\n* ";
        answer.append(std::to_string(messages->size())).append(" EXISTS\r\n* 0 RECENT\r\n");
        answer.append("* OK [UIDVALIDITY 7] UIDs valid\r\n");
        return answer +
               tagged(tag, s.read_only ? "OK [READ-ONLY] EXAMINE completed" : "OK [READ-WRITE] SELECT completed");
    }
    if (!s.selected) {
        return tagged(tag, "BAD no mailbox selected");
    }
    const bool uid = parsed.code == "UID";
    if (name == "SEARCH") {
        return search(s, args, uid) + tagged(tag, "OK SEARCH completed");
    }
    if (name == "FETCH" && args.size() == 2) {
        return fetch(s, args[0].text, args[1], uid) + tagged(tag, "OK FETCH completed");
    }
    return tagged(tag, "BAD unknown command");
}

// The numbers (or with uid the UIDs, which are the numbers here: nothing is ever expunged) of the selected
// folder's messages, all or the UNSEEN ones.
std::string ImapServer::search(Session& s, const std::vector<ImapValue>& args, bool uid) {
    (void)uid;
    const bool unseen = !args.empty() && upper(args[0].text) == "UNSEEN";
    std::string found = "* SEARCH";
    std::lock_guard lock(mutex_);
    if (const std::vector<ImapMessage>* messages = folder_of(s.user, s.folder)) {
        for (std::size_t i = 0; i < messages->size(); ++i) {
            if (!unseen || !(*messages)[i].seen) {
                found.append(" ").append(std::to_string(i + 1));
            }
        }
    }
    return found + "\r\n";
}

// A STATUS line of a folder (mutex held): what a client asked of it, or what NOTIFY tells of it.
std::string ImapServer::status_line(const std::string& name, const std::vector<ImapMessage>& messages) const {
    const auto unseen = std::count_if(messages.begin(), messages.end(), [](const ImapMessage& m) { return !m.seen; });
    return "* STATUS " + quoted_name(name) + " (MESSAGES " + std::to_string(messages.size()) + " UIDNEXT " +
           std::to_string(messages.size() + 1) + " UIDVALIDITY 7 UNSEEN " + std::to_string(unseen) + ")\r\n";
}

std::string ImapServer::status(Session& s, const std::string& tag, const std::vector<ImapValue>& args) {
    if (args.size() != 2 || args[1].kind != ImapValue::Kind::list) {
        return tagged(tag, "BAD STATUS takes a mailbox and a list");
    }
    std::lock_guard lock(mutex_);
    const std::vector<ImapMessage>* messages = folder_of(s.user, args[0].text);
    if (messages == nullptr) {
        return tagged(tag, "NO [NONEXISTENT] no such mailbox");
    }
    return status_line(args[0].text, *messages) + tagged(tag, "OK STATUS completed");
}

// LIST "" "*", with RETURN (SPECIAL-USE STATUS (...)) where the capabilities name LIST-EXTENDED (and LIST-STATUS for
// the STATUS lines): the script's folder and the others, with their attributes.
std::string ImapServer::list(Session& s, const std::string& tag, const std::vector<ImapValue>& args) {
    bool statuses = false;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (upper(args[i].text) == "RETURN" && args[i + 1].kind == ImapValue::Kind::list) {
            for (const ImapValue& option : args[i + 1].items) {
                statuses = statuses || upper(option.text) == "STATUS";
            }
        }
    }
    if (statuses && !has_word(script_.capabilities, "LIST-STATUS")) {
        return tagged(tag, "BAD LIST-STATUS is not offered");
    }
    std::lock_guard lock(mutex_);
    std::string out = "* LIST (\\HasNoChildren) \"/\" " + script_.folder + "\r\n";
    const ImapMailbox& box = mailboxes_[s.user];
    if (statuses) {
        out += status_line(script_.folder, box.messages);
    }
    for (const ImapFolder& f : box.folders) {
        out += "* LIST (" + f.attributes + ") \"/\" " + quoted_name(f.name) + "\r\n";
        if (statuses && folder_of(s.user, f.name) != nullptr) {
            out += status_line(f.name, f.messages);
        }
    }
    return out + tagged(tag, "OK LIST completed");
}

// NOTIFY SET [STATUS] ... (RFC 5465), read loosely: every mailbox named after "mailboxes", or all of them for
// "personal"; with STATUS, the status of each at once.
std::string ImapServer::notify(Session& s, const std::string& tag, const std::vector<ImapValue>& args) {
    if (args.empty() || upper(args[0].text) != "SET") {
        return tagged(tag, "BAD NOTIFY SET or NOTIFY NONE");
    }
    const bool with_status = args.size() > 1 && upper(args[1].text) == "STATUS";
    std::lock_guard lock(mutex_);
    s.notify_all = false;
    s.notify_folders.clear();
    for (const ImapValue& group : args) {
        if (group.kind != ImapValue::Kind::list || group.items.empty()) {
            continue;
        }
        const std::string filter = upper(group.items[0].text);
        s.notify_all = s.notify_all || filter == "PERSONAL";
        if (filter == "MAILBOXES" && group.items.size() > 1) {
            const ImapValue& names = group.items[1];
            if (names.kind == ImapValue::Kind::list) {
                for (const ImapValue& n : names.items) {
                    s.notify_folders.push_back(n.text);
                }
            } else {
                s.notify_folders.push_back(names.text);
            }
        }
    }
    std::string out;
    if (with_status) {
        for (const std::string& name : s.notify_folders) {
            if (const std::vector<ImapMessage>* messages = folder_of(s.user, name)) {
                out += status_line(name, *messages);
            }
        }
    }
    return out + tagged(tag, "OK NOTIFY completed");
}

std::string ImapServer::login(Session& s, const std::string& user, const std::string& password) {
    std::lock_guard lock(mutex_);
    auto found = mailboxes_.find(user);
    if (found == mailboxes_.end() || found->second.password != password) {
        return "NO [AUTHENTICATIONFAILED] invalid login";
    }
    const auto logged_in =
        std::count_if(sessions_.begin(), sessions_.end(), [&user](const Session* o) { return o->user == user; });
    if (script_.connection_limit > 0 && logged_in >= script_.connection_limit) {
        return "NO [ALERT] Too many simultaneous connections. (Failure)";
    }
    s.user = user;
    return "OK logged in";
}

// AUTHENTICATE PLAIN (RFC 4616): "\0user\0password" in base64, with the command (SASL-IR, RFC 4959) or after a
// continuation. Empty when the client went away.
std::string ImapServer::authenticate(Session& s, const std::string& tag, const std::string& initial) {
    std::string response = initial;
    if (response.empty()) {
        if (!send_bytes(s, "+ \r\n") || !read_line(s, response, kMaxLine)) {
            return {};
        }
        record(response);
    }
    if (response == "*") {
        return tagged(tag, "BAD authentication cancelled");
    }
    std::string plain = base64_decoded(response);
    std::size_t first = plain.find('\0');
    std::size_t second = first == std::string::npos ? first : plain.find('\0', first + 1);
    if (second == std::string::npos) {
        return tagged(tag, "BAD malformed credentials");
    }
    return tagged(tag, login(s, plain.substr(first + 1, second - first - 1), plain.substr(second + 1)));
}

// AUTHENTICATE OAUTHBEARER (RFC 7628) or XOAUTH2, the mailbox's password standing for the one token it takes. A
// wrong token gets the error challenge, which the client must answer as its mechanism says (^A, or nothing for
// XOAUTH2) before the NO. Empty when the client went away.
std::string ImapServer::authenticate_oauth(Session& s, const std::string& tag, const std::string& mechanism,
                                           const std::string& initial) {
    std::string response = initial;
    if (response.empty()) {
        if (!send_bytes(s, "+ \r\n") || !read_line(s, response, kMaxLine)) {
            return {};
        }
        record(response);
    }
    const std::string message = base64_decoded(response);
    const std::string user = oauth_value(message, mechanism == "XOAUTH2" ? "user=" : "a=");
    const std::string auth = oauth_value(message, "auth=");
    if (auth.starts_with("Bearer ")) {
        std::lock_guard lock(mutex_);
        auto found = mailboxes_.find(user);
        if (found != mailboxes_.end() && found->second.password == auth.substr(7)) {
            s.user = user;
            return tagged(tag, "OK authenticated");
        }
    }
    const std::string challenge = R"({"status":"invalid_token","scope":"mail"})";
    std::string answer;
    if (!send_bytes(s, "+ " + base64_encoded(challenge) + "\r\n") || !read_line(s, answer, kMaxLine)) {
        return {};
    }
    record(answer);
    if (answer != (mechanism == "XOAUTH2" ? "" : "AQ==")) {
        return tagged(tag, "BAD the error challenge was answered wrongly");
    }
    return tagged(tag, "NO [AUTHENTICATIONFAILED] invalid token");
}

// FETCH of the selected folder's messages: BODY[HEADER] (a fetch without PEEK marks them read unless the folder was
// examined), UID, FLAGS, as the items ask; the UID FETCH answers name the UID whatever was asked (RFC 3501 6.4.8).
std::string ImapServer::fetch(Session& s, const std::string& set, const ImapValue& items, bool uid) {
    std::vector<std::string> asked;
    if (items.kind == ImapValue::Kind::list) {
        for (const ImapValue& item : items.items) {
            asked.push_back(upper(item.text));
        }
    } else {
        asked.push_back(upper(items.text));
    }
    auto wants = [&asked](const char* item) { return std::find(asked.begin(), asked.end(), item) != asked.end(); };
    const bool peek = wants("BODY.PEEK[HEADER]");
    const bool header = peek || wants("BODY[HEADER]");
    std::string out;
    std::lock_guard lock(mutex_);
    std::vector<ImapMessage>* messages = folder_of(s.user, s.folder);
    if (messages == nullptr) {
        return out;
    }
    for (std::size_t n : sequence_set(set, messages->size())) {
        ImapMessage& m = (*messages)[n - 1];
        std::string data;
        if (uid || wants("UID")) {
            data += "UID " + std::to_string(n);
        }
        if (wants("FLAGS")) {
            data += std::string(data.empty() ? "" : " ") + (m.seen ? "FLAGS (\\Seen)" : "FLAGS ()");
        }
        if (header) {
            const std::string h = header_of(m.text);
            data += std::string(data.empty() ? "" : " ") + "BODY[HEADER] {" + std::to_string(h.size()) + "}\r\n" + h;
        }
        out.append("* ").append(std::to_string(n)).append(" FETCH (").append(data).append(")\r\n");
        m.seen = m.seen || (header && !peek && !s.read_only);
    }
    return out;
}

// IDLE (RFC 2177): what the server has to tell goes out as it comes until the client's DONE.
bool ImapServer::idle(Session& s, const std::string& tag) {
    if (!answer(s, "IDLE", script_.idle_text + "\r\n")) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        s.idling = true;
        s.outbox += pushed_;
        pushed_.clear();
    }
    wake(s);
    for (;;) {
        bool client_data = s.pending.find('\n') != std::string::npos || (s.ssl != nullptr && SSL_pending(s.ssl) > 0);
        if (!client_data) {
            pollfd p[3] = {{s.fd, POLLIN, 0}, {stop_fd(), POLLIN, 0}, {s.wake[0], POLLIN, 0}};
            if (poll(p, 3, -1) < 0 && errno != EINTR) {
                return false;
            }
            if (p[1].revents != 0) {
                return false;
            }
            if (p[2].revents != 0 && script_.idle_poll_ms > 0 && !pause(script_.idle_poll_ms)) {
                return false; // the server looks at the mailbox only now and then
            }
            if (p[2].revents != 0) {
                char drain[64];
                while (read(s.wake[0], drain, sizeof drain) > 0) {
                }
                std::string bytes;
                {
                    std::lock_guard lock(mutex_);
                    bytes.swap(s.outbox);
                }
                if (!bytes.empty() && !send_bytes(s, bytes)) {
                    return false;
                }
            }
            client_data = p[0].revents != 0;
        }
        if (client_data) {
            std::string line;
            if (!read_line(s, line, kMaxLine)) {
                return false;
            }
            record(line);
            {
                std::lock_guard lock(mutex_);
                s.idling = false;
            }
            return answer(s, "DONE",
                          upper(line) == "DONE" ? tagged(tag, "OK IDLE terminated") : tagged(tag, "BAD expected DONE"));
        }
    }
}

// Sends an answer, then acts out the fault when this is the event it is scripted for. False ends the session.
bool ImapServer::answer(Session& s, const std::string& event, const std::string& text) {
    bool faulted = false;
    {
        std::lock_guard lock(mutex_); // the sessions of a parallel server count the faults together
        faulted = script_.fault != ImapFault::none && event == script_.fault_at &&
                  (script_.fault_count == 0 || faults_done_ < script_.fault_count);
        faults_done_ += faulted ? 1 : 0;
    }
    if (s.muted || (faulted && script_.fault == ImapFault::mute)) {
        s.muted = true;
        return true;
    }
    if (!faulted) {
        return send_bytes(s, text);
    }
    const std::string chunk(1024, 'x');
    switch (script_.fault) {
    case ImapFault::endless_literal:
    case ImapFault::endless_line:
        if (send_bytes(s, script_.fault == ImapFault::endless_line ? "* OK "
                                                                   : "* 1 FETCH (BODY[HEADER] {1099511627776}\r\n")) {
            while (send_bytes(s, chunk)) {
            }
        }
        return false;
    case ImapFault::delay:
        return pause(script_.fault_delay_ms) && send_bytes(s, text);
    case ImapFault::flood:
        // Instead of the answer (the tagged line never comes), or after it for the greeting and IDLE.
        if (event != "IDLE" && event != "GREETING") {
            return flood(s);
        }
        return send_bytes(s, text) && flood(s);
    case ImapFault::reset:
        reset_on_close(s);
        return false;
    case ImapFault::bye:
        if (!send_bytes(s, text) || !pause(script_.fault_delay_ms) || !send_bytes(s, "* BYE scripted goodbye\r\n")) {
            return false;
        }
        break;
    default:
        if (!send_bytes(s, text)) {
            return false;
        }
        break;
    }
    close_gently(s);
    return false;
}

// The flood line again and again until the client goes; what the client says meanwhile is recorded, never answered.
bool ImapServer::flood(Session& s) {
    for (;;) {
        std::string line;
        if (s.ssl == nullptr && wait_fd(s.fd, POLLIN, 0) && read_line(s, line, kMaxLine)) {
            record(line);
        }
        if (!send_bytes(s, script_.flood_line + "\r\n") || !pause(script_.flood_pause_ms)) {
            return false;
        }
    }
}

bool ImapServer::send_bytes(Session& s, const std::string& bytes) {
    return send_pieces(s, bytes, script_.piece_bytes, script_.piece_pause_ms);
}

bool ImapServer::read_bytes(Session& s, std::size_t count, std::string& into) {
    while (s.pending.size() < count) {
        char chunk[4096];
        long n = transfer(s, nullptr, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        s.pending.append(chunk, static_cast<std::size_t>(n));
    }
    into.append(s.pending, 0, count);
    s.pending.erase(0, count);
    return true;
}

// A whole command: its lines and the literals between them (RFC 3501 4.3), each synchronising literal announced
// by the client let in with a continuation.
bool ImapServer::read_command(Session& s, std::string& command) {
    std::string line;
    if (!read_line(s, line, kMaxLine)) {
        return false;
    }
    command = line;
    std::uint64_t size = 0;
    std::size_t at = 0;
    while (imap_literal_marker(line, size, at)) {
        if (size > kMaxLiteral || command.size() > kMaxLine) {
            return false;
        }
        bool synchronising = line[line.size() - 2] != '+';
        if (synchronising && !s.muted && !send_bytes(s, "+ go ahead\r\n")) {
            return false;
        }
        command += "\r\n";
        if (!read_bytes(s, static_cast<std::size_t>(size), command) || !read_line(s, line, kMaxLine)) {
            return false;
        }
        command += line;
    }
    return true;
}
