// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/oauth_flow.h"

#include "credentials/oauth/loopback_listener.h"
#include "credentials/oauth/token_reply.h"
#include "credentials/token_stop.h"
#include "platform/secret.h"
#include "platform/timing.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Status = TokenGrant::Status;
using Clock = std::chrono::steady_clock;
using Form = std::vector<std::pair<const char*, std::string>>;

// A form's body as HTML forms encode it (RFC 6749 appendix B): every byte but the unreserved ones %-escaped, so a
// '+' or '&' in a token reaches the provider as itself. Wiped by the caller: it holds the refresh token or code.
QByteArray form_body(const Form& form) {
    QByteArray body;
    for (const auto& [name, value] : form) {
        if (!body.isEmpty()) {
            body += '&';
        }
        body += name;
        body += '=';
        QByteArray raw = QByteArray::fromStdString(value);
        body += raw.toPercentEncoding();
        raw.fill('\0');
    }
    return body;
}

// The client's part of every token request (RFC 6749 2.3.1 allows the secret in the body).
void add_client(Form& form, const OAuthEndpoints& e) {
    form.emplace_back("client_id", e.client_id);
    if (!e.client_secret.empty()) {
        form.emplace_back("client_secret", e.client_secret);
    }
}

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One POST of a form to the token endpoint, in a local event loop of this thread, at most timeout_ms. Redirects
// are not followed; an answer past kTokenReplyMax is aborted as it comes; a stop (token_stop.h) aborts it too.
TokenGrant post_token_request(const std::string& url, const Form& form, int timeout_ms, const std::string& waited_for) {
    TokenGrant grant;
    if (token_stop_asked()) {
        grant.status = Status::cancelled;
        grant.error = "stopped";
        return grant;
    }
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(QString::fromStdString(url))};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    QByteArray body = form_body(form);
    QNetworkReply* reply = network.post(request, body);
    body.fill('\0');
    reply->setReadBufferSize(kTokenReplyMax + 1); // the rest waits in the socket until it is read, or aborted

    enum class Cut { none, timed_out, too_large, stopped } cut = Cut::none;
    QByteArray answer;
    QEventLoop loop;
    auto abort = [&](Cut why) {
        if (cut == Cut::none) {
            cut = why;
        }
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kTokenReplyMax) {
            abort(Cut::too_large);
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        answer += reply->read(kTokenReplyMax + 1 - answer.size());
        if (answer.size() > kTokenReplyMax) {
            abort(Cut::too_large);
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { abort(Cut::timed_out); });
    deadline.start(std::max(1, timeout_ms));
    // The stop: at once from the signal, and at each look at a stop asked for elsewhere.
    std::optional<QSocketNotifier> stop_signal;
    if (token_stop_fd() >= 0) {
        stop_signal.emplace(token_stop_fd(), QSocketNotifier::Read);
        QObject::connect(&*stop_signal, &QSocketNotifier::activated, &loop, [&] { abort(Cut::stopped); });
    }
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (token_stop_asked()) {
            abort(Cut::stopped);
        }
    });
    look.start(std::max(1, timing().stop_poll_ms));
    if (!reply->isFinished()) {
        loop.exec();
    }
    answer += reply->read(kTokenReplyMax + 1 - answer.size());
    const int http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    switch (cut) {
    case Cut::stopped:
        grant.status = Status::cancelled;
        grant.error = "stopped";
        break;
    case Cut::timed_out:
        grant.error = "no answer from the provider within the time (" + waited_for + ")";
        break;
    case Cut::too_large:
        grant.error = "the token endpoint's answer is larger than 64 KB";
        break;
    case Cut::none:
        if (answer.size() > kTokenReplyMax) {
            grant.error = "the token endpoint's answer is larger than 64 KB";
        } else if (http == 0) {
            grant.error = "the token endpoint could not be reached: " + reply->errorString().left(120).toStdString();
        } else {
            grant = read_token_reply(http, answer, std::chrono::system_clock::now());
        }
        break;
    }
    answer.fill('\0');
    delete reply;
    return grant;
}

// The page the browser is left on once it brought the code back: which account, and what to do now. The account
// (the settings file's text) is escaped for the page's HTML; the meta tag, which
// a browser honours anywhere in a page's first 1024 bytes, tells it the page is UTF-8 whatever the headers say.
QString callback_page_text(const std::string& account) {
    QString text = QStringLiteral("<meta charset=\"utf-8\"><p>");
    if (account.empty()) {
        text += QString::fromUtf8("kd5lite 已收到登录的回应。");
    } else {
        text += QString::fromUtf8("kd5lite 已收到账户 ") + QString::fromStdString(account).toHtmlEscaped() +
                QString::fromUtf8(" 的登录回应。");
    }
    return text + QString::fromUtf8("可以关闭此页面，回到 kd5lite 选项程序的「连接」页查看结果。</p>");
}

bool endpoints_allowed(const OAuthEndpoints& e, TokenGrant& grant) {
    if (oauth_url_allowed(e.token_url) && (e.auth_url.empty() || oauth_url_allowed(e.auth_url))) {
        return true;
    }
    grant.status = Status::failed;
    grant.error = "an OAuth2 endpoint is neither https nor on this machine";
    return false;
}

std::string base64url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

// The authorization request (RFC 6749 4.1.1, RFC 7636 4.3): the provider's URL with the query added to any it has.
QUrl authorization_url(const OAuthEndpoints& e, const std::string& redirect_uri, const std::string& state,
                       const std::string& challenge, const std::string& login_hint) {
    Form query{{"response_type", "code"}, {"client_id", e.client_id}, {"redirect_uri", redirect_uri}};
    if (!e.scope.empty()) {
        query.emplace_back("scope", e.scope);
    }
    query.emplace_back("state", state);
    query.emplace_back("code_challenge", challenge);
    query.emplace_back("code_challenge_method", "S256");
    if (!login_hint.empty()) {
        query.emplace_back("login_hint", login_hint);
    }
    QUrl url(QString::fromStdString(e.auth_url));
    const QString own = url.query(QUrl::FullyEncoded);
    url.setQuery((own.isEmpty() ? QString() : own + QLatin1Char('&')) + QString::fromLatin1(form_body(query)),
                 QUrl::StrictMode);
    return url;
}

} // namespace

std::string pkce_verifier() {
    static constexpr char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    std::string verifier(64, 'A');
    for (char& c : verifier) {
        c = kUnreserved[QRandomGenerator::system()->bounded(static_cast<int>(sizeof kUnreserved - 1))];
    }
    return verifier;
}

std::string pkce_challenge(const std::string& verifier) {
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256);
    return base64url(digest);
}

std::string oauth_state() {
    std::array<quint32, 8> words{}; // 256 bits from the system's generator
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return base64url(QByteArray(reinterpret_cast<const char*>(words.data()), sizeof words));
}

TokenGrant sign_in_with_browser(const OAuthEndpoints& endpoints, const std::string& login_hint,
                                const std::function<void(const QUrl&)>& open_browser, int timeout_ms) {
    TokenGrant grant;
    if (!endpoints_allowed(endpoints, grant)) {
        return grant;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(1, timeout_ms));
    // RFC 6749 10.12: the state ties the browser's return to this sign-in; a guessable one would let anyone on the
    // machine hand it a code of their own.
    const std::string state = oauth_state();
    LoopbackListener listener(state);
    if (!listener.listen()) {
        grant.error = "no loopback port to wait for the browser on";
        return grant;
    }
    // The loopback redirect of RFC 8252 7.3: 127.0.0.1 and the port the system chose.
    const std::string redirect_uri = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    listener.answered_page = callback_page_text(login_hint).toStdString();
    const std::string verifier = pkce_verifier();
    RedirectRequest answer;
    {
        QEventLoop loop;
        listener.answered = [&](const RedirectRequest& r) {
            answer = r;
            loop.quit();
        };
        QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
        open_browser(authorization_url(endpoints, redirect_uri, state, pkce_challenge(verifier), login_hint));
        if (answer.kind == RedirectRequest::Kind::incomplete) {
            loop.exec();
        }
        listener.answered = nullptr;
    }
    switch (answer.kind) {
    case RedirectRequest::Kind::error:
        grant.status = Status::refused;
        grant.error = "the provider answered " + answer.error;
        return grant;
    case RedirectRequest::Kind::code:
        break;
    default:
        grant.error = "no answer from the provider within the time (the sign-in in the browser)";
        return grant;
    }
    Form form{{"grant_type", "authorization_code"}, {"code", answer.code}, {"redirect_uri", redirect_uri}};
    add_client(form, endpoints);
    form.emplace_back("code_verifier", verifier);
    grant = post_token_request(endpoints.token_url, form, remaining_ms(deadline), "the sign-in in the browser");
    wipe_secret(answer.code);
    wipe_secret(form[1].second);
    return grant;
}

TokenGrant refresh_access_token(const OAuthEndpoints& endpoints, const std::string& refresh_token, int timeout_ms) {
    TokenGrant grant;
    if (!endpoints_allowed(endpoints, grant)) {
        return grant;
    }
    Form form{{"grant_type", "refresh_token"}, {"refresh_token", refresh_token}};
    add_client(form, endpoints);
    grant = post_token_request(endpoints.token_url, form, timeout_ms, "the token refresh");
    wipe_secret(form[1].second);
    // RFC 6749 6: a refresh may bring no new refresh token, and the old one then stays valid.
    if (grant.status == Status::granted && grant.refresh_token.empty()) {
        grant.refresh_token = refresh_token;
    }
    return grant;
}
