#include "tools/imapserver/imap_server.h"

#include "mail/imap_parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxLine = 64 * 1024;        // a longer command line ends the session
constexpr std::uint64_t kMaxLiteral = 1024 * 1024; // and so does a longer literal

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
    std::string padded = " " + upper(words) + " ";
    return padded.find(" " + upper(word) + " ") != std::string::npos;
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

} // namespace

struct ImapServer::Session {
    int fd = -1;
    SSL* ssl = nullptr; // once the handshake is done
    bool alert = true;  // whether closing sends the closing alert (TLS): not after a reset or a fatal error
    bool muted = false;
    std::string user; // once logged in
    bool selected = false;
    bool read_only = false;
    std::string pending; // bytes received after the last full line
};

ImapServer::ImapServer(std::map<std::string, ImapMailbox> mailboxes, ImapScript script)
    : script_(std::move(script)), mailboxes_(std::move(mailboxes)) {}

ImapServer::~ImapServer() {
    stop();
}

bool ImapServer::load_certificate() {
    if (script_.tls == ImapTls::none) {
        return true;
    }
    tls_ = SSL_CTX_new(TLS_server_method());
    if (tls_ != nullptr && SSL_CTX_use_certificate_chain_file(tls_, script_.certificate_file.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(tls_, script_.key_file.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(tls_) == 1) {
        return true;
    }
    char reason[256];
    ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
    error_ = "certificate " + script_.certificate_file + ", key " + script_.key_file + ": " + reason;
    ERR_clear_error();
    return false;
}

bool ImapServer::start(const std::string& host, int port) {
    if (!load_certificate()) {
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* list = nullptr;
    std::string service = std::to_string(port);
    if (int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); rc != 0) {
        error_ = std::string("address ") + host + ": " + gai_strerror(rc);
        return false;
    }
    listen_fd_ = socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool ok = listen_fd_ >= 0 && bind(listen_fd_, list->ai_addr, list->ai_addrlen) == 0 && listen(listen_fd_, 16) == 0;
    freeaddrinfo(list);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (!ok || getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &size) != 0 ||
        pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(push_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        error_ = std::string("listen on ") + host + ":" + service + ": " + std::strerror(errno);
        close_fd(listen_fd_);
        return false;
    }
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    host_ = host;
    thread_ = std::thread([this] { run(); });
    return true;
}

void ImapServer::stop() {
    if (thread_.joinable()) {
        char byte = 1;
        [[maybe_unused]] ssize_t n = write(stop_pipe_[1], &byte, 1);
        thread_.join();
    }
    for (int* fd : {&listen_fd_, &stop_pipe_[0], &stop_pipe_[1], &push_pipe_[0], &push_pipe_[1]}) {
        close_fd(*fd);
    }
    SSL_CTX_free(tls_);
    tls_ = nullptr;
}

std::string ImapServer::server_name() const {
    bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

std::vector<std::string> ImapServer::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

int ImapServer::connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool ImapServer::idling() const {
    std::lock_guard lock(mutex_);
    return idling_;
}

void ImapServer::deliver(const std::string& user, const std::string& text) {
    std::lock_guard lock(mutex_);
    mailboxes_[user].messages.push_back({text, false});
}

std::vector<bool> ImapServer::seen(const std::string& user) const {
    std::lock_guard lock(mutex_);
    std::vector<bool> flags;
    if (auto found = mailboxes_.find(user); found != mailboxes_.end()) {
        for (const ImapMessage& m : found->second.messages) {
            flags.push_back(m.seen);
        }
    }
    return flags;
}

void ImapServer::push(const std::string& bytes) {
    {
        std::lock_guard lock(mutex_);
        pushed_ += bytes;
    }
    char byte = 1;
    [[maybe_unused]] ssize_t n = write(push_pipe_[1], &byte, 1);
}

void ImapServer::on_command(std::function<void(const std::string&)> callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void ImapServer::record(const std::string& command) {
    std::function<void(const std::string&)> callback;
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        callback = callback_;
    }
    if (callback) {
        callback(command);
    }
}

// Waits for events on fd; false when stop() was called or the wait ran out.
bool ImapServer::wait_fd(int fd, short events, int timeout_ms) {
    pollfd p[2] = {{fd, events, 0}, {stop_pipe_[0], POLLIN, 0}};
    int ready;
    do {
        ready = poll(p, 2, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && p[1].revents == 0;
}

// Pauses; false when stop() was called meanwhile.
bool ImapServer::pause(int ms) {
    pollfd p{stop_pipe_[0], POLLIN, 0};
    return poll(&p, 1, ms) == 0;
}

void ImapServer::run() {
    // TLS writes go through write(2): a client that leaves in the middle of an answer would raise SIGPIPE on this
    // thread, which must end the session, not the process.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    while (wait_fd(listen_fd_, POLLIN, -1)) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            ++connections_;
        }
        serve(fd);
    }
}

void ImapServer::serve(int fd) {
    Session s;
    s.fd = fd;
    if ((script_.tls != ImapTls::implicit || start_tls(s)) && answer(s, "GREETING", script_.greeting)) {
        std::string command;
        while (read_command(s, command) && handle(s, command)) {
        }
    }
    {
        std::lock_guard lock(mutex_);
        idling_ = false;
    }
    if (s.ssl != nullptr) {
        if (s.alert) {
            SSL_shutdown(s.ssl); // the closing alert, without waiting for the client's
        }
        SSL_free(s.ssl);
        ERR_clear_error();
    }
    close(fd);
}

// The server's side of the handshake. False when it failed or stop() was called; a mute fault at "TLS" leaves the
// client waiting for a handshake that never comes.
bool ImapServer::start_tls(Session& s) {
    if (script_.fault == ImapFault::mute && script_.fault_at == "TLS") {
        s.muted = true;
        return true;
    }
    SSL* ssl = SSL_new(tls_);
    if (ssl == nullptr || SSL_set_fd(ssl, s.fd) != 1) {
        SSL_free(ssl);
        return false;
    }
    for (;;) {
        ERR_clear_error();
        int rc = SSL_accept(ssl);
        if (rc == 1) {
            break;
        }
        int error = SSL_get_error(ssl, rc);
        short events = error == SSL_ERROR_WANT_READ ? POLLIN : error == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (events == 0 || !wait_fd(s.fd, events, -1)) {
            SSL_free(ssl);
            ERR_clear_error();
            return false;
        }
    }
    s.ssl = ssl;
    return true;
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
    const std::string name = parsed.keyword;
    if (auto scripted = script_.replies.find(name); scripted != script_.replies.end()) {
        std::string text = scripted->second;
        for (std::size_t at; (at = text.find("%TAG%")) != std::string::npos;) {
            text.replace(at, 5, tag);
        }
        return answer(s, name, text);
    }
    if (name == "IDLE" && !s.user.empty()) {
        return idle(s, tag);
    }
    std::string text = respond(s, tag, parsed);
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
    const bool offer_tls = script_.tls == ImapTls::starttls && s.ssl == nullptr && s.user.empty();
    const std::string capabilities = script_.capabilities + (offer_tls ? " STARTTLS" : "");
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
        return offer_tls ? tagged(tag, "OK begin TLS negotiation now") : tagged(tag, "BAD STARTTLS not offered");
    }
    if (s.user.empty()) {
        if (name == "LOGIN" && args.size() == 2) {
            if (has_word(capabilities, "LOGINDISABLED")) {
                return tagged(tag, "NO [PRIVACYREQUIRED] LOGIN is disabled");
            }
            return tagged(tag, login(s, args[0].text, args[1].text));
        }
        if (name == "AUTHENTICATE" && !args.empty() && upper(args[0].text) == "PLAIN") {
            return authenticate(s, tag, args.size() > 1 ? args[1].text : "");
        }
        return tagged(tag, "BAD log in first");
    }
    if (name == "ENABLE") {
        std::string enabled;
        for (const ImapValue& v : args) {
            if (has_word(capabilities, v.text)) {
                enabled += " " + upper(v.text);
            }
        }
        return "* ENABLED" + enabled + "\r\n" + tagged(tag, "OK ENABLE completed");
    }
    if ((name == "SELECT" || name == "EXAMINE") && args.size() == 1) {
        const std::string& wanted = args[0].text;
        bool inbox = upper(script_.folder) == "INBOX";
        if (!(inbox ? upper(wanted) == "INBOX" : wanted == script_.folder)) {
            s.selected = false;
            return tagged(tag, "NO [NONEXISTENT] no such mailbox");
        }
        s.selected = true;
        s.read_only = name == "EXAMINE";
        std::lock_guard lock(mutex_);
        std::size_t count = mailboxes_[s.user].messages.size();
        return "* FLAGS (\\Seen)\r\n* " + std::to_string(count) + " EXISTS\r\n* 0 RECENT\r\n" +
               tagged(tag, s.read_only ? "OK [READ-ONLY] EXAMINE completed" : "OK [READ-WRITE] SELECT completed");
    }
    if (!s.selected) {
        return tagged(tag, "BAD no mailbox selected");
    }
    if (name == "SEARCH") {
        bool unseen = !args.empty() && upper(args[0].text) == "UNSEEN";
        std::string found = "* SEARCH";
        std::lock_guard lock(mutex_);
        const std::vector<ImapMessage>& messages = mailboxes_[s.user].messages;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (!unseen || !messages[i].seen) {
                found += " " + std::to_string(i + 1);
            }
        }
        return found + "\r\n" + tagged(tag, "OK SEARCH completed");
    }
    if (name == "FETCH" && args.size() == 2) {
        const bool peek = upper(args[1].kind == ImapValue::Kind::list && !args[1].items.empty()
                                    ? args[1].items[0].text
                                    : args[1].text) == "BODY.PEEK[HEADER]";
        return fetch(s, args[0].text, peek) + tagged(tag, "OK FETCH completed");
    }
    return tagged(tag, "BAD unknown command");
}

std::string ImapServer::login(Session& s, const std::string& user, const std::string& password) {
    std::lock_guard lock(mutex_);
    auto found = mailboxes_.find(user);
    if (found == mailboxes_.end() || found->second.password != password) {
        return "NO [AUTHENTICATIONFAILED] invalid login";
    }
    s.user = user;
    return "OK logged in";
}

// AUTHENTICATE PLAIN (RFC 4616): "\0user\0password" in base64, with the command (SASL-IR, RFC 4959) or after a
// continuation. Empty when the client went away.
std::string ImapServer::authenticate(Session& s, const std::string& tag, const std::string& initial) {
    std::string response = initial;
    if (response.empty()) {
        if (!send_bytes(s, "+ \r\n") || !read_line(s, response)) {
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

// The headers of the messages of set; a fetch without PEEK marks them read unless the folder was examined.
std::string ImapServer::fetch(Session& s, const std::string& set, bool peek) {
    std::string out;
    std::lock_guard lock(mutex_);
    std::vector<ImapMessage>& messages = mailboxes_[s.user].messages;
    for (std::size_t n : sequence_set(set, messages.size())) {
        ImapMessage& m = messages[n - 1];
        std::string header = header_of(m.text);
        out += "* " + std::to_string(n) + " FETCH (BODY[HEADER] {" + std::to_string(header.size()) + "}\r\n" + header +
               ")\r\n";
        m.seen = m.seen || (!peek && !s.read_only);
    }
    return out;
}

// IDLE (RFC 2177): pushed responses go out as they come until the client's DONE.
bool ImapServer::idle(Session& s, const std::string& tag) {
    if (!answer(s, "IDLE", "+ idling\r\n")) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        idling_ = true;
    }
    for (;;) {
        bool client_data = s.pending.find('\n') != std::string::npos || (s.ssl != nullptr && SSL_pending(s.ssl) > 0);
        if (!client_data) {
            pollfd p[3] = {{s.fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}, {push_pipe_[0], POLLIN, 0}};
            if (poll(p, 3, -1) < 0 && errno != EINTR) {
                return false;
            }
            if (p[1].revents != 0) {
                return false;
            }
            if (p[2].revents != 0) {
                char drain[64];
                while (read(push_pipe_[0], drain, sizeof drain) > 0) {
                }
                std::string bytes;
                {
                    std::lock_guard lock(mutex_);
                    bytes.swap(pushed_);
                }
                if (!bytes.empty() && !send_bytes(s, bytes)) {
                    return false;
                }
            }
            client_data = p[0].revents != 0;
        }
        if (client_data) {
            std::string line;
            if (!read_line(s, line)) {
                return false;
            }
            record(line);
            {
                std::lock_guard lock(mutex_);
                idling_ = false;
            }
            return answer(s, "DONE",
                          upper(line) == "DONE" ? tagged(tag, "OK IDLE terminated") : tagged(tag, "BAD expected DONE"));
        }
    }
}

// Sends an answer, then acts out the fault when this is the event it is scripted for. False ends the session.
bool ImapServer::answer(Session& s, const std::string& event, const std::string& text) {
    const bool faulted = script_.fault != ImapFault::none && event == script_.fault_at;
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
    case ImapFault::reset: {
        s.alert = false;   // a closing alert would end the connection properly before the reset
        linger hard{1, 0}; // closing with a zero linger time sends RST instead of FIN
        setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return false;
    }
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
    if (s.ssl != nullptr && s.alert) {
        SSL_shutdown(s.ssl); // over TLS the closing alert comes first, as a server that ends properly sends it
        s.alert = false;
    }
    // FIN now, and whatever the client still sends is read and dropped: closing a socket with unread data would
    // send RST instead.
    shutdown(s.fd, SHUT_WR);
    char sink[1024];
    while (wait_fd(s.fd, POLLIN, 2000) && recv(s.fd, sink, sizeof sink, 0) > 0) {
    }
    return false;
}

bool ImapServer::send_bytes(Session& s, const std::string& bytes) {
    const std::size_t step = script_.piece_bytes > 0 ? script_.piece_bytes : bytes.size();
    for (std::size_t done = 0; done < bytes.size();) {
        if (done > 0 && script_.piece_pause_ms > 0 && !pause(script_.piece_pause_ms)) {
            return false;
        }
        std::size_t piece = std::min(step, bytes.size() - done);
        for (std::size_t sent = 0; sent < piece;) {
            long n = transfer(s, bytes.data() + done + sent, nullptr, piece - sent);
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        done += piece;
    }
    return true;
}

// Sends from out, or receives into in, on the non-blocking socket, in clear or through TLS, waiting as long as it
// takes. Returns the bytes moved, or 0 when the connection is over or stop() was called.
long ImapServer::transfer(Session& s, const char* out, char* in, std::size_t size) {
    for (;;) {
        short events = out != nullptr ? POLLOUT : POLLIN;
        if (s.ssl != nullptr) {
            ERR_clear_error();
            std::size_t moved = 0;
            int rc = out != nullptr ? SSL_write_ex(s.ssl, out, size, &moved) : SSL_read_ex(s.ssl, in, size, &moved);
            if (rc == 1) {
                return static_cast<long>(moved);
            }
            int error = SSL_get_error(s.ssl, rc);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
                s.alert = false; // after a fatal error no closing alert may follow
                return 0;
            }
            events = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        } else {
            ssize_t n = out != nullptr ? send(s.fd, out, size, MSG_NOSIGNAL) : recv(s.fd, in, size, 0);
            if (n > 0) {
                return static_cast<long>(n);
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return 0;
            }
        }
        if (!wait_fd(s.fd, events, -1)) {
            return 0;
        }
    }
}

// One line without its line end; false when the client has gone, stop() was called or the line is too long.
bool ImapServer::read_line(Session& s, std::string& line) {
    for (;;) {
        std::size_t end = s.pending.find('\n');
        if (end != std::string::npos) {
            line = s.pending.substr(0, end);
            s.pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return true;
        }
        if (s.pending.size() > kMaxLine) {
            return false;
        }
        char chunk[4096];
        long n = transfer(s, nullptr, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        s.pending.append(chunk, static_cast<std::size_t>(n));
    }
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
    if (!read_line(s, line)) {
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
        if (!read_bytes(s, static_cast<std::size_t>(size), command) || !read_line(s, line)) {
            return false;
        }
        command += line;
    }
    return true;
}
