// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/oauth/token_reply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace {

using Status = TokenGrant::Status;

// A year: beyond it a lifetime is a broken answer, and its sum with the clock could overflow.
constexpr double kLongestLife = 366.0 * 24 * 3600;
constexpr qsizetype kErrorCodeMax = 64;

// expires_in is a number of seconds; some providers send it as a string.
std::chrono::seconds life_of(const QJsonValue& value) {
    double seconds = value.isDouble() ? value.toDouble() : value.isString() ? value.toString().toDouble() : 0;
    if (!std::isfinite(seconds) || seconds <= 0) {
        return kAssumedTokenLife;
    }
    return std::chrono::seconds(static_cast<long long>(std::min(seconds, kLongestLife)));
}

// The error code of a refusal as printable ASCII (RFC 6749 5.2 allows nothing else in it), cut.
std::string error_code_of(const QJsonObject& object) {
    std::string code;
    const QString text = object.value(QLatin1String("error")).toString().left(kErrorCodeMax);
    for (QChar c : text) {
        code += c.unicode() >= 0x20 && c.unicode() < 0x7f ? static_cast<char>(c.unicode()) : '?';
    }
    return code;
}

QJsonObject object_of(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError && document.isObject() ? document.object() : QJsonObject();
}

std::string utf8_of(const QJsonValue& value) {
    return value.isString() ? value.toString().toStdString() : "";
}

} // namespace

TokenGrant read_token_reply(int http_status, const QByteArray& body, std::chrono::system_clock::time_point now) {
    TokenGrant grant;
    if (http_status >= 300 && http_status < 400) {
        grant.error = "the token endpoint answered with a redirect (HTTP " + std::to_string(http_status) +
                      "), which is not followed";
        return grant;
    }
    const QJsonObject object = object_of(body);
    if (http_status == 400 || http_status == 401) {
        const std::string code = error_code_of(object);
        grant.status = Status::refused;
        grant.error = code.empty() ? "the token endpoint answered HTTP " + std::to_string(http_status)
                                   : "the provider answered " + code;
        return grant;
    }
    if (http_status != 200) {
        grant.error = "the token endpoint answered HTTP " + std::to_string(http_status);
        return grant;
    }
    grant.access_token = utf8_of(object.value(QLatin1String("access_token")));
    if (grant.access_token.empty()) {
        grant.error = "the provider's answer held no access token";
        return grant;
    }
    grant.status = Status::granted;
    grant.refresh_token = utf8_of(object.value(QLatin1String("refresh_token")));
    grant.expires_at = now + life_of(object.value(QLatin1String("expires_in")));
    return grant;
}
