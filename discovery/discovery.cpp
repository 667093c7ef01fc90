// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/discovery.h"

#include "credentials/mail_providers.h"
#include "discovery/autoconfig.h"
#include "discovery/provider_servers.h"
#include "discovery/server_check.h"
#include "discovery/srv_records.h"
#include "platform/timing.h"

#include <QDnsLookup>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRedirectLimit = 3;

std::mutex g_cache_mutex;
std::map<std::string, DiscoveryResult> g_cache; // by address in lower case and protocol; this process only

std::string cache_key(const std::string& address, bool prefer_imap) {
    std::string key = address;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key + (prefer_imap ? "/imap" : "/pop3");
}

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The authorities the https download trusts: the system's, and, as OpenSSL adds it for the mail connections, the
// file SSL_CERT_FILE names. Qt's own loading reads the system's directories only. Made once: reading the whole
// system store takes long.
QSslConfiguration make_trusted_configuration() {
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (!file.isEmpty()) {
        conf.setCaCertificates(QSslConfiguration::systemCaCertificates() + QSslCertificate::fromPath(file));
    }
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    conf.setProtocol(QSsl::TlsV1_2OrLater);
    return conf;
}

const QSslConfiguration& trusted_configuration() {
    static const QSslConfiguration conf = make_trusted_configuration();
    return conf;
}

// RFC 6761 6.4: names under "invalid" never exist, and no resolver is asked for them.
bool never_exists(const std::string& domain) {
    return domain == "invalid" || domain.ends_with(".invalid");
}

// One download of an autoconfig file.
struct Download {
    QNetworkReply* reply = nullptr;
    QByteArray body;
    bool done = false;
    bool ok = false;
};

// One DNS lookup's records, taken when it finished.
struct Lookup {
    QDnsLookup* lookup = nullptr;
    bool done = false;
};

// One search: its downloads and lookups, each source's started when the search comes to it (the SRV and MX lookups
// together), and the checks of each source's candidates. Lives on the thread that searches, whose event loops it
// runs while it waits.
class Search : public QObject {
public:
    Search(const std::string& address, const std::string& domain, bool prefer_imap, const DiscoveryStop& stop,
           const DiscoveryProgress& progress)
        : address_(address), domain_(domain), prefer_imap_(prefer_imap), stop_(stop), progress_(progress),
          deadline_(Clock::now() + std::chrono::milliseconds(timing().discovery_total_ms)) {}

    ~Search() override {
        for (Download& d : downloads_) {
            if (d.reply != nullptr && !d.done) {
                disconnect(d.reply, nullptr, this, nullptr);
                d.reply->abort();
            }
        }
        for (Lookup& l : lookups_) {
            if (l.lookup != nullptr) {
                disconnect(l.lookup, nullptr, this, nullptr);
                l.lookup->abort();
            }
        }
    }

    DiscoveryResult run();
    PublishedServers published();

private:
    void start_downloads();
    void start_dns();
    void download(Download& d, const QString& host, const QString& path);
    void look_up(Lookup& l, QDnsLookup::Type type, const QString& name);
    bool wait_until(const std::function<bool()>& done, Clock::time_point deadline, int wake_fd = -1);
    void wake() {
        if (loop_ != nullptr) {
            loop_->quit();
        }
    }
    void say(const std::string& line) const {
        if (progress_) {
            progress_(line);
        }
    }

    std::vector<ServerCandidate> autoconfig_servers();
    std::vector<ServerCandidate> srv_servers();
    std::vector<ServerCandidate> hosted_servers();
    std::optional<ServerCandidate> first_answering(const std::vector<ServerCandidate>& candidates);
    bool take(const std::vector<ServerCandidate>& candidates, DiscoveryResult& result);
    DiscoveryResult ended(DiscoveryResult result);

    std::string address_;
    std::string domain_;
    bool prefer_imap_;
    const DiscoveryStop& stop_;
    DiscoveryProgress progress_;
    Clock::time_point deadline_;           // of the whole search
    Clock::time_point downloads_deadline_; // of the autoconfig downloads
    Clock::time_point dns_deadline_;       // of the SRV and MX lookups
    QEventLoop* loop_ = nullptr;
    QNetworkAccessManager network_;
    Download downloads_[2];                // autoconfig.DOMAIN, then DOMAIN/.well-known
    Lookup lookups_[5];                    // _imaps, _imap, _pop3s, _pop3, MX
    std::optional<ServerCandidate> clear_; // the first server that answered in clear only
};

void Search::download(Download& d, const QString& host, const QString& path) {
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    url.setPath(path);
    // The format's own query: the address lets a provider answer for the account (its server, its user name).
    url.setQuery(QStringLiteral("emailaddress=") +
                     QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(address_))),
                 QUrl::StrictMode);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kRedirectLimit);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setSslConfiguration(trusted_configuration());
    d.reply = network_.get(request);
    QNetworkReply* reply = d.reply;
    // A redirect stays on the host that was asked, over https: another host would be a third party the domain
    // sends us to, and it would learn the address.
    connect(reply, &QNetworkReply::redirected, this, [reply, url](const QUrl& to) {
        if (to.scheme() == QLatin1String("https") && to.host().compare(url.host(), Qt::CaseInsensitive) == 0 &&
            to.port(443) == 443) {
            emit reply->redirectAllowed();
        } else {
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [&d, reply] {
        d.body += reply->readAll();
        if (static_cast<std::size_t>(d.body.size()) > kAutoconfigLimit) {
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, &d, reply] {
        d.done = true;
        d.ok = reply->error() == QNetworkReply::NoError &&
               reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 &&
               static_cast<std::size_t>(d.body.size()) <= kAutoconfigLimit;
        wake();
    });
}

void Search::look_up(Lookup& l, QDnsLookup::Type type, const QString& name) {
    l.lookup = new QDnsLookup(type, name, this);
    connect(l.lookup, &QDnsLookup::finished, this, [this, &l] {
        l.done = true;
        wake();
    });
    l.lookup->lookup();
}

Clock::time_point lookup_deadline() {
    return Clock::now() + std::chrono::milliseconds(timing().discovery_lookup_ms);
}

void Search::start_downloads() {
    const QString domain = QString::fromStdString(domain_);
    downloads_deadline_ = lookup_deadline();
    download(downloads_[0], QStringLiteral("autoconfig.") + domain, QStringLiteral("/mail/config-v1.1.xml"));
    download(downloads_[1], domain, QStringLiteral("/.well-known/autoconfig/mail/config-v1.1.xml"));
}

// The SRV and MX lookups together, once they are wanted: a domain whose autoconfig answered is asked nothing more.
void Search::start_dns() {
    if (lookups_[0].lookup != nullptr) {
        return;
    }
    const QString domain = QString::fromStdString(domain_);
    dns_deadline_ = lookup_deadline();
    const char* services[] = {"_imaps._tcp.", "_imap._tcp.", "_pop3s._tcp.", "_pop3._tcp."};
    for (int i = 0; i < 4; ++i) {
        look_up(lookups_[i], QDnsLookup::SRV, QString::fromLatin1(services[i]) + domain);
    }
    look_up(lookups_[4], QDnsLookup::MX, domain);
}

// Runs the thread's event loop until done() holds, the deadline or the whole search's passes, or the stop is
// raised; false unless done() holds. done() is asked again whenever an event of the loop or the eventfd wake_fd
// (-1: none) ends a round.
bool Search::wait_until(const std::function<bool()>& done, Clock::time_point deadline, int wake_fd) {
    deadline = std::min(deadline, deadline_);
    while (!done()) {
        if (stop_.stopped() || remaining_ms(deadline) == 0) {
            return false;
        }
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(remaining_ms(deadline));
        std::unique_ptr<QSocketNotifier> notices[2];
        const int fds[2] = {stop_.fd(), wake_fd};
        for (int n = 0; n < 2; ++n) {
            if (fds[n] >= 0) {
                notices[n] = std::make_unique<QSocketNotifier>(fds[n], QSocketNotifier::Read);
                connect(notices[n].get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            }
        }
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
    }
    return true;
}

std::vector<ServerCandidate> Search::autoconfig_servers() {
    say("正在查找 " + domain_ + " 的自动配置……");
    wait_until([this] { return downloads_[0].done && downloads_[1].done; }, downloads_deadline_);
    std::vector<ServerCandidate> out;
    for (const Download& d : downloads_) {
        if (d.done && d.ok) {
            const Autoconfig config = parse_autoconfig(std::string_view(d.body.constData(), d.body.size()));
            const std::vector<ServerCandidate> servers = autoconfig_candidates(config, address_, domain_, prefer_imap_);
            out.insert(out.end(), servers.begin(), servers.end());
        }
    }
    order_candidates(out, prefer_imap_);
    return out;
}

std::vector<ServerCandidate> Search::srv_servers() {
    say("正在查找 " + domain_ + " 的 DNS SRV 记录……");
    start_dns();
    wait_until([this] { return std::all_of(lookups_, lookups_ + 4, [](const Lookup& l) { return l.done; }); },
               dns_deadline_);
    SrvAnswers answers;
    std::vector<SrvRecord>* services[] = {&answers.imaps, &answers.imap, &answers.pop3s, &answers.pop3};
    for (int i = 0; i < 4; ++i) {
        if (!lookups_[i].done || lookups_[i].lookup->error() != QDnsLookup::NoError) {
            continue;
        }
        for (const QDnsServiceRecord& r : lookups_[i].lookup->serviceRecords()) {
            services[i]->push_back(SrvRecord{r.target().toStdString(), r.port(), r.priority(), r.weight()});
        }
    }
    std::random_device seed;
    std::minstd_rand random(seed());
    return srv_candidates(answers, prefer_imap_, [&random](unsigned limit) {
        return std::uniform_int_distribution<unsigned>(0, limit)(random);
    });
}

std::vector<ServerCandidate> Search::hosted_servers() {
    say("正在查找 " + domain_ + " 的 MX 记录……");
    start_dns();
    Lookup& mx = lookups_[4];
    wait_until([&mx] { return mx.done; }, dns_deadline_);
    std::vector<MxRecord> records;
    if (mx.done && mx.lookup->error() == QDnsLookup::NoError) {
        for (const QDnsMailExchangeRecord& r : mx.lookup->mailExchangeRecords()) {
            records.push_back(MxRecord{r.exchange().toStdString(), r.preference()});
        }
    }
    const MailProvider* provider = hosting_provider(records);
    return provider == nullptr ? std::vector<ServerCandidate>() : hosted_candidates(*provider, prefer_imap_);
}

// The checks of one source's candidates, shared with their threads. A thread that is still waiting for the system's
// resolver when the search moves on is left to end by itself (getaddrinfo cannot be cut short); it keeps this
// alive until then, and its connection ends at once since `ends` is raised.
struct Checks {
    std::vector<ServerCandidate> candidates;
    std::mutex mutex;
    std::vector<std::optional<ServerAnswer>> answers;
    CancelSignal ends;    // raised when the search no longer waits for them
    CancelSignal changed; // raised by each answer, to wake the search's event loop
};

// Checks the candidates at once, each on a thread of its own, and takes the first in their order that answered:
// a later one that answered waits only for those before it. Every check ends at the check deadline.
std::optional<ServerCandidate> Search::first_answering(const std::vector<ServerCandidate>& candidates) {
    if (candidates.empty() || stop_.stopped() || remaining_ms(deadline_) == 0) {
        return std::nullopt;
    }
    const ServerCandidate& first = candidates.front();
    std::string line = "正在连接 " + first.host + ":" + std::to_string(first.port);
    if (candidates.size() > 1) {
        line += " 等 " + std::to_string(candidates.size()) + " 个服务器";
    }
    say(line + "……");
    const Clock::time_point deadline =
        std::min(deadline_, Clock::now() + std::chrono::milliseconds(timing().discovery_check_ms));
    auto checks = std::make_shared<Checks>();
    checks->candidates = candidates;
    checks->answers.resize(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        std::thread([checks, i, timeout = remaining_ms(deadline)] {
            const ServerCheck check = check_server(checks->candidates[i], timeout, checks->ends.fd());
            std::lock_guard lock(checks->mutex);
            checks->answers[i] = check.answer;
            checks->changed.raise();
        }).detach();
    }
    // The first that answered, once every one before it has failed; when the time is out, the first that answered.
    const auto chosen = [&checks](bool waiting) -> std::optional<std::size_t> {
        std::lock_guard lock(checks->mutex);
        for (std::size_t i = 0; i < checks->answers.size(); ++i) {
            if (checks->answers[i] == ServerAnswer::greeted) {
                return i;
            }
            if (waiting && !checks->answers[i]) {
                return std::nullopt;
            }
        }
        return checks->answers.size();
    };
    wait_until(
        [&] {
            checks->changed.clear();
            return chosen(true).has_value();
        },
        deadline, checks->changed.fd());
    checks->ends.raise();
    if (stop_.stopped()) {
        return std::nullopt;
    }
    const std::optional<std::size_t> index = chosen(false);
    return index && *index < candidates.size() ? std::optional(candidates[*index]) : std::nullopt;
}

// True when the candidates gave the result; one that answers only in clear is kept for the end instead.
bool Search::take(const std::vector<ServerCandidate>& candidates, DiscoveryResult& result) {
    std::optional<ServerCandidate> found = first_answering(candidates);
    if (!found) {
        return false;
    }
    if (found->security == kSecurityClear) {
        if (!clear_) {
            clear_ = found;
        }
        return false;
    }
    result.end = DiscoveryEnd::found;
    result.server = *found;
    return true;
}

DiscoveryResult Search::ended(DiscoveryResult result) {
    if (result.end == DiscoveryEnd::found) {
        return result;
    }
    if (clear_ && !stop_.stopped()) {
        result.end = DiscoveryEnd::found;
        result.server = *clear_;
    } else if (stop_.stopped()) {
        result.end = DiscoveryEnd::stopped;
    } else if (remaining_ms(deadline_) == 0) {
        result.end = DiscoveryEnd::timed_out;
    }
    return result;
}

DiscoveryResult Search::run() {
    DiscoveryResult result;
    result.domain = domain_;
    start_downloads();
    if (take(autoconfig_servers(), result) || take(srv_servers(), result) || take(hosted_servers(), result)) {
        return result;
    }
    if (!stop_.stopped() && remaining_ms(deadline_) > 0) {
        say("正在尝试常用的服务器名称……");
        take(guessed_candidates(domain_, prefer_imap_), result);
    }
    return ended(result);
}

PublishedServers Search::published() {
    PublishedServers out;
    out.domain = domain_;
    start_downloads();
    start_dns();
    for (auto servers : {autoconfig_servers(), srv_servers(), hosted_servers()}) {
        for (ServerCandidate& c : servers) {
            if (c.imap == prefer_imap_) {
                out.servers.push_back(std::move(c));
            }
        }
    }
    return out;
}

} // namespace

DiscoveryResult discover_server(const std::string& address, bool prefer_imap, const DiscoveryStop& stop,
                                const DiscoveryProgress& progress) {
    DiscoveryResult result;
    result.domain = address_domain(address);
    if (result.domain.empty()) {
        result.end = DiscoveryEnd::no_address;
        return result;
    }
    if (const MailProvider* row = mail_provider_for(address)) {
        const std::vector<ServerCandidate> servers = table_candidates(*row, prefer_imap);
        if (!servers.empty()) {
            result.end = DiscoveryEnd::found;
            result.server = servers.front();
        }
        return result;
    }
    const std::string key = cache_key(address, prefer_imap);
    {
        std::lock_guard lock(g_cache_mutex);
        if (auto it = g_cache.find(key); it != g_cache.end()) {
            return it->second;
        }
    }
    if (never_exists(result.domain)) {
        return result;
    }
    result = Search(address, result.domain, prefer_imap, stop, progress).run();
    if (result.end == DiscoveryEnd::found) {
        std::lock_guard lock(g_cache_mutex);
        g_cache[key] = result;
    }
    return result;
}

PublishedServers published_servers(const std::string& address, bool imap, const DiscoveryStop& stop) {
    const std::string domain = address_domain(address);
    if (domain.empty() || never_exists(domain)) {
        return PublishedServers{domain, {}};
    }
    return Search(address, domain, imap, stop, {}).published();
}

void forget_discoveries() {
    std::lock_guard lock(g_cache_mutex);
    g_cache.clear();
}
