// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/discovery/test_domain.h"

#include "tests/support/lampsim_handle.h"
#include "tests/support/private_bus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char kInside[] = "KD5_DISCOVERY_NETNS"; // set in the run inside the namespace: its name
constexpr int kStartMs = 20000;

std::string json_text(const std::string& text) {
    return "\"" + text + "\"";
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        out += (out.empty() ? "" : ", ") + item;
    }
    return out;
}

// The namespace's resolver: our name server, and no waiting on one that does not answer.
void write_resolver_files(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path("/etc/netns") / name;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:1 attempts:2\n";
    std::ofstream(dir / "hosts") << "127.0.0.1 localhost\n::1 localhost\n";
}

std::string current_test() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

} // namespace

// A name lookup still on its way when a story's process ends (a search that moved on from it leaves it to end by
// itself: neither getaddrinfo nor res_nquery can be cut short) holds glibc's resolver state, which LeakSanitizer
// would report as lost.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:res_context_send\n";
}

NetworkPlace own_network(std::string& why) {
    if (std::getenv(kInside) != nullptr) {
        return NetworkPlace::inside;
    }
    if (geteuid() != 0) {
        why = "the story runs in a network namespace of its own, which only root can make (ip netns add); CI runs "
              "the tests as root";
        return NetworkPlace::unavailable;
    }
    static int made = 0;
    const std::string name = "kd5disc" + std::to_string(getpid()) + "n" + std::to_string(++made);
    TempCorvo scratch;
    const std::string out = scratch.path("netns.out");
    // Root can make one: a failure here is a fault of the machine that CI must show, not a reason to skip.
    if (run_process({"ip", "netns", "add", name}, out) != 0) {
        ADD_FAILURE() << "ip netns add " << name << " failed: " << read_file(out);
        return NetworkPlace::ran_outside;
    }
    write_resolver_files(name);
    run_process({"ip", "-n", name, "link", "set", "lo", "up"}, out, true);
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    setenv(kInside, name.c_str(), 1);
    const std::string run = scratch.path("story.out");
    const int status = length > 0 ? run_process({"ip", "netns", "exec", name, self, "--gtest_filter=" + current_test(),
                                                 "--gtest_also_run_disabled_tests"},
                                                run)
                                  : -1;
    unsetenv(kInside);
    run_process({"ip", "netns", "delete", name}, out, true);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path("/etc/netns") / name, ignored);
    const std::string said = read_file(run);
    std::printf("---- the run in network namespace %s ----\n%s---- end of the run ----\n", name.c_str(), said.c_str());
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("[  PASSED  ] 1 test"), std::string::npos) << said;
    return NetworkPlace::ran_outside;
}

TestDomain::TestDomain()
    : authority_(std::make_unique<TestAuthority>(corvo_.dir(), "domain")),
      trusted_(std::make_unique<TrustedAuthority>(*authority_)) {}

TestDomain::~TestDomain() {
    end_process(web_server_);
    end_process(name_server_);
}

void TestDomain::a(const std::string& name, const std::string& address) {
    zone_[name].push_back("[\"A\", " + json_text(address) + "]");
}

void TestDomain::mx(const std::string& name, int preference, const std::string& host) {
    zone_[name].push_back("[\"MX\", " + std::to_string(preference) + ", " + json_text(host) + "]");
}

void TestDomain::srv(const std::string& name, int priority, int weight, int port, const std::string& target) {
    zone_[name].push_back("[\"SRV\", " + std::to_string(priority) + ", " + std::to_string(weight) + ", " +
                          std::to_string(port) + ", " + json_text(target) + "]");
}

void TestDomain::delay_answers(const std::string& suffix, int ms) {
    delays_.push_back("{\"suffix\": " + json_text(suffix) + ", \"ms\": " + std::to_string(ms) + "}");
}

TestAuthority::Issued TestDomain::certificate(const std::string& names) {
    return authority_->issue("server" + std::to_string(++certificates_), names);
}

TestAuthority::Issued TestDomain::self_signed(const std::string& names) {
    return TestAuthority::self_signed(corvo_.dir(), "own" + std::to_string(++certificates_), names);
}

TestDomain::Site& TestDomain::site(const std::string& address, const std::string& host, bool untrusted) {
    auto it = sites_.find(address);
    if (it == sites_.end()) {
        Site s;
        s.host = host;
        s.certificate = untrusted ? self_signed("DNS:" + host) : certificate("DNS:" + host);
        it = sites_.emplace(address, std::move(s)).first;
    }
    return it->second;
}

void TestDomain::serve(const std::string& address, const std::string& host, const std::string& path,
                       const std::string& body, bool untrusted) {
    const std::string file = corvo_.path("answer" + std::to_string(++files_) + ".xml");
    std::ofstream(file, std::ios::binary) << body;
    site(address, host, untrusted).answers[path] = "{\"file\": " + json_text(file) + "}";
}

void TestDomain::redirect(const std::string& address, const std::string& host, const std::string& path,
                          const std::string& location) {
    site(address, host, false).answers[path] = "{\"location\": " + json_text(location) + "}";
}

bool TestDomain::start_helper(const std::string& script, const std::vector<std::string>& args,
                              const std::string& output, pid_t& pid) {
    std::vector<std::string> argv = {kSystemPython, std::string(KD5_DISCOVERY_TEST_DIR) + "/" + script};
    argv.insert(argv.end(), args.begin(), args.end());
    pid = spawn_process(argv, output);
    if (pid > 0 && wait_until([&] { return read_file(output).find("ready") != std::string::npos; }, kStartMs)) {
        return true;
    }
    error_ = script + " did not start: " + read_file(output);
    return false;
}

bool TestDomain::start() {
    std::string zone = "{\"delays\": [" + joined(delays_) + "]";
    for (const auto& [name, records] : zone_) {
        zone += ", " + json_text(name) + ": [" + joined(records) + "]";
    }
    std::ofstream(corvo_.path("zone.json")) << zone << "}\n";
    if (!start_helper("name_server.py", {corvo_.path("zone.json"), "127.0.0.1", "53", corvo_.path("questions.log")},
                      corvo_.path("name_server.out"), name_server_)) {
        return false;
    }
    if (sites_.empty()) {
        return true;
    }
    std::vector<std::string> sites;
    for (const auto& [address, s] : sites_) {
        std::vector<std::string> answers;
        for (const auto& [path, answer] : s.answers) {
            answers.push_back(json_text(path) + ": " + answer);
        }
        sites.push_back("{\"address\": " + json_text(address) +
                        ", \"port\": 443, \"cert\": " + json_text(s.certificate.certificate_file) +
                        ", \"key\": " + json_text(s.certificate.key_file) + ", \"paths\": {" + joined(answers) + "}}");
    }
    std::ofstream(corvo_.path("sites.json")) << "[" << joined(sites) << "]\n";
    return start_helper("web_server.py", {corvo_.path("sites.json"), corvo_.path("requests.log")},
                        corvo_.path("web_server.out"), web_server_);
}

std::string TestDomain::questions() const {
    return read_file(corvo_.path("questions.log"));
}

std::string TestDomain::requests() const {
    return read_file(corvo_.path("requests.log"));
}
