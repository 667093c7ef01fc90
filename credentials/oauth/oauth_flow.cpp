// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/oauth_flow.h"

#include "platform/secret.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QOAuthOobReplyHandler>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

namespace {

using Status = TokenGrant::Status;

// The flow for the endpoints, with a network access manager of its own in this thread.
void set_up(QOAuth2AuthorizationCodeFlow& flow, QNetworkAccessManager& network, const OAuthEndpoints& e) {
    flow.setNetworkAccessManager(&network);
    flow.setAuthorizationUrl(QUrl(QString::fromStdString(e.auth_url)));
    flow.setAccessTokenUrl(QUrl(QString::fromStdString(e.token_url)));
    flow.setClientIdentifier(QString::fromStdString(e.client_id));
    if (!e.client_secret.empty()) {
        flow.setClientIdentifierSharedKey(QString::fromStdString(e.client_secret));
    }
    flow.setScope(QString::fromStdString(e.scope));
}

// Waits in a local event loop for the flow to be granted, the token endpoint to answer with an error, or the time
// to run out. QtNetworkAuth 6.4 reports a token endpoint's error only in its log, so the answer's status is read
// from the network access manager.
TokenGrant wait_for_grant(QOAuth2AuthorizationCodeFlow& flow, QNetworkAccessManager& network, int timeout_ms,
                          const std::string& waited_for) {
    TokenGrant grant;
    grant.error = "no answer from the provider within the time (" + waited_for + ")";
    QEventLoop loop;
    QObject::connect(&flow, &QAbstractOAuth::granted, &loop, [&] {
        grant.status = Status::granted;
        grant.error.clear();
        loop.quit();
    });
    QObject::connect(&flow, &QAbstractOAuth2::error, &loop, [&](const QString& error, const QString&, const QUrl&) {
        grant.status = Status::refused;
        grant.error = "the provider answered " + error.left(64).toStdString();
        loop.quit();
    });
    QObject::connect(&network, &QNetworkAccessManager::finished, &loop, [&](QNetworkReply* reply) {
        const int http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError) {
            return; // the flow reads the tokens and says granted
        }
        // RFC 6749 5.2: invalid_grant and its kin come with 400 (or 401 for a client the provider does not know).
        grant.status = http == 400 || http == 401 ? Status::refused : Status::failed;
        grant.error = http != 0
                          ? "the token endpoint answered HTTP " + std::to_string(http)
                          : "the token endpoint could not be reached: " + reply->errorString().left(120).toStdString();
        loop.quit();
    });
    QTimer::singleShot(timeout_ms, &loop, &QEventLoop::quit);
    loop.exec();
    if (grant.status == Status::granted) {
        grant.access_token = flow.token().toStdString();
        grant.refresh_token = flow.refreshToken().toStdString();
        grant.expires_at =
            std::chrono::system_clock::time_point(std::chrono::milliseconds(flow.expirationAt().toMSecsSinceEpoch()));
        if (grant.access_token.empty()) {
            grant.status = Status::failed;
            grant.error = "the provider's answer held no access token";
        }
    }
    return grant;
}

// The page the browser is left on once it brought the code back: which account, and what to do now. Qt puts the
// text into the page's HTML as it is, so the account (the settings file's text) is escaped; the meta tag, which
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
    return digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

TokenGrant sign_in_with_browser(const OAuthEndpoints& endpoints, const std::string& login_hint,
                                const std::function<void(const QUrl&)>& open_browser, int timeout_ms) {
    TokenGrant grant;
    if (!endpoints_allowed(endpoints, grant)) {
        return grant;
    }
    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow;
    set_up(flow, network, endpoints);
    // The loopback redirect of RFC 8252 7.3: 127.0.0.1 and a port the system chose.
    QOAuthHttpServerReplyHandler handler(QHostAddress(QHostAddress::LocalHost), 0);
    if (!handler.isListening()) {
        grant.error = "no loopback port to wait for the browser on";
        return grant;
    }
    handler.setCallbackText(callback_page_text(login_hint));
    flow.setReplyHandler(&handler);
    // QtNetworkAuth 6.4 has no PKCE of its own: the challenge goes with the authorization request, the verifier
    // with the code (RFC 7636 4.3, 4.5).
    const std::string verifier = pkce_verifier();
    const QString challenge = QString::fromStdString(pkce_challenge(verifier));
    flow.setModifyParametersFunction([&](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            parameters->insert(QStringLiteral("code_challenge"), challenge);
            parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            if (!login_hint.empty()) {
                parameters->insert(QStringLiteral("login_hint"), QString::fromStdString(login_hint));
            }
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            parameters->insert(QStringLiteral("code_verifier"), QString::fromStdString(verifier));
        }
    });
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, open_browser);
    flow.grant();
    return wait_for_grant(flow, network, timeout_ms, "the sign-in in the browser");
}

TokenGrant refresh_access_token(const OAuthEndpoints& endpoints, const std::string& refresh_token, int timeout_ms) {
    TokenGrant grant;
    if (!endpoints_allowed(endpoints, grant)) {
        return grant;
    }
    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow;
    set_up(flow, network, endpoints);
    QOAuthOobReplyHandler handler; // reads the token endpoint's answer; without one the flow never hears it
    flow.setReplyHandler(&handler);
    flow.setRefreshToken(QString::fromStdString(refresh_token));
    flow.refreshAccessToken();
    grant = wait_for_grant(flow, network, timeout_ms, "the token refresh");
    if (grant.status == Status::granted && grant.refresh_token.empty()) {
        grant.refresh_token = refresh_token;
    }
    return grant;
}
