// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/oauth2_provider.h"

#include "tests/support/lampsim_handle.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kStartMs = 20000; // python3 starting on a loaded machine
constexpr int kRequestMs = 10000;

} // namespace

OAuth2Provider::~OAuth2Provider() {
    stop();
}

bool OAuth2Provider::start(double lifetime_s, const std::string& user) {
    if (access(KD5_OAUTH2PROVIDER, X_OK) != 0) {
        error_ = std::string(KD5_OAUTH2PROVIDER) + " is missing or not executable";
        return false;
    }
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string lifetime = std::to_string(lifetime_s);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execl(KD5_OAUTH2PROVIDER, KD5_OAUTH2PROVIDER, "--lifetime", lifetime.c_str(), "--user", user.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_fd_ = in[1];
    pid_ = pid;
    std::string said;
    bool up = wait_until(
        [&] {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 50) == 1) {
                char chunk[256];
                ssize_t n = read(out[0], chunk, sizeof chunk);
                if (n <= 0) {
                    return true; // ended: said holds what it managed to say
                }
                said.append(chunk, static_cast<std::size_t>(n));
            }
            return said.find('\n') != std::string::npos;
        },
        kStartMs);
    close(out[0]);
    if (up && said.starts_with("PORT ")) {
        port_ = std::atoi(said.c_str() + 5);
    }
    if (port_ <= 0) {
        error_ = "the OAuth2 provider did not start: " + said;
        stop();
        return false;
    }
    return true;
}

void OAuth2Provider::stop() {
    if (stdin_fd_ >= 0) {
        close(stdin_fd_);
        stdin_fd_ = -1;
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (!wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 5000)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
}

std::string OAuth2Provider::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

namespace {

std::string http_request(int port, const std::string& method, const std::string& path, const std::string& form,
                         int* status, std::string* headers);

} // namespace

int OAuth2Provider::get_url(const std::string& url, std::string* body, std::string* headers) {
    const std::string prefix = "http://127.0.0.1:";
    if (!url.starts_with(prefix)) {
        return 0;
    }
    const std::size_t slash = url.find('/', prefix.size());
    const int port = std::atoi(url.substr(prefix.size(), slash - prefix.size()).c_str());
    int status = 0;
    const std::string page =
        http_request(port, "GET", slash == std::string::npos ? "/" : url.substr(slash), "", &status, headers);
    if (body != nullptr) {
        *body = page;
    }
    return status;
}

std::string OAuth2Provider::request(const std::string& method, const std::string& path, const std::string& form,
                                    int* status, std::string* headers) const {
    return http_request(port_, method, path, form, status, headers);
}

namespace {

std::string http_request(int port, const std::string& method, const std::string& path, const std::string& form,
                         int* status, std::string* headers) {
    if (status != nullptr) {
        *status = 0;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return "";
    }
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (method == "POST") {
        text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + std::to_string(form.size()) +
                "\r\n";
    }
    text += "\r\n" + form;
    std::string answer;
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        char chunk[4096];
        pollfd p{fd, POLLIN, 0};
        while (poll(&p, 1, kRequestMs) == 1) {
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            answer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    const std::size_t end = answer.find("\r\n\r\n");
    if (end == std::string::npos || !answer.starts_with("HTTP/1.")) {
        return "";
    }
    if (status != nullptr) {
        *status = std::atoi(answer.c_str() + 9);
    }
    if (headers != nullptr) {
        *headers = answer.substr(0, end);
    }
    return answer.substr(end + 4);
}

} // namespace

OAuth2Provider::Tokens OAuth2Provider::issue(const std::string& user) {
    const std::string body = request("POST", "/admin/issue", "user=" + user);
    return {json_member(body, "access_token"), json_member(body, "refresh_token"),
            std::atol(json_member(body, "expires_in").c_str())};
}

bool OAuth2Provider::revoke(const std::string& user) {
    int status = 0;
    request("POST", "/admin/revoke", "user=" + user, &status);
    return status == 200;
}

bool OAuth2Provider::set_mode(const std::string& form) {
    int status = 0;
    request("POST", "/admin/mode", form, &status);
    return status == 200;
}

std::map<std::string, long> OAuth2Provider::stats() {
    const std::string body = request("GET", "/admin/stats");
    std::map<std::string, long> counts;
    for (const char* name : {"authorization_code", "refresh_token", "refused", "introspect", "inactive"}) {
        counts[name] = std::atol(json_member(body, name).c_str());
    }
    return counts;
}

std::string json_member(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\"";
    std::size_t at = json.find(key);
    if (at == std::string::npos) {
        return "";
    }
    at = json.find_first_not_of(" :", at + key.size());
    if (at == std::string::npos) {
        return "";
    }
    if (json[at] == '"') {
        const std::size_t end = json.find('"', at + 1);
        return end == std::string::npos ? "" : json.substr(at + 1, end - at - 1);
    }
    const std::size_t end = json.find_first_of(",}", at);
    return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}
