// SPDX-License-Identifier: GPL-3.0-or-later
#include "discovery/autoconfig.h"

#include "logging/log_text.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

namespace {

constexpr qsizetype kTextLimit = 1024; // a host name or login pattern longer than this is no such thing

bool named(const QXmlStreamReader& xml, const char* name) {
    return xml.name() == QLatin1String(name);
}

std::string text_of(QXmlStreamReader& xml) {
    const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
    return text.size() > kTextLimit ? std::string() : text.toStdString();
}

int port_of(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int port = std::stoi(text);
    return port <= 65535 ? port : 0;
}

int security_of(const std::string& text) {
    const QString type = QString::fromStdString(text);
    if (type.compare(QLatin1String("SSL"), Qt::CaseInsensitive) == 0 ||
        type.compare(QLatin1String("TLS"), Qt::CaseInsensitive) == 0) {
        return kSecurityTls;
    }
    if (type.compare(QLatin1String("STARTTLS"), Qt::CaseInsensitive) == 0) {
        return kSecurityStartTls;
    }
    if (type.compare(QLatin1String("plain"), Qt::CaseInsensitive) == 0) {
        return kSecurityClear;
    }
    return -1;
}

void take_method(const std::string& method, AutoconfigServer& server) {
    const QString m = QString::fromStdString(method).toLower();
    if (m == QLatin1String("password-cleartext") || m == QLatin1String("password-encrypted") ||
        m == QLatin1String("plain") || m == QLatin1String("secure")) {
        server.password = true;
    } else if (m == QLatin1String("oauth2")) {
        server.oauth2 = true;
    } else {
        server.other_method = true;
    }
}

AutoconfigServer read_server(QXmlStreamReader& xml, bool imap) {
    AutoconfigServer server;
    server.imap = imap;
    while (xml.readNextStartElement()) {
        if (named(xml, "hostname")) {
            server.host = text_of(xml);
        } else if (named(xml, "port")) {
            server.port = port_of(text_of(xml));
        } else if (named(xml, "socketType")) {
            server.security = security_of(text_of(xml));
        } else if (named(xml, "username")) {
            server.username = text_of(xml);
        } else if (named(xml, "authentication")) {
            take_method(text_of(xml), server);
        } else {
            xml.skipCurrentElement();
        }
    }
    return server;
}

void read_provider(QXmlStreamReader& xml, Autoconfig& config) {
    while (xml.readNextStartElement()) {
        const QString type = xml.attributes().value(QLatin1String("type")).toString().toLower();
        const bool imap = type == QLatin1String("imap");
        if (named(xml, "incomingServer") && (imap || type == QLatin1String("pop3"))) {
            AutoconfigServer server = read_server(xml, imap);
            if (config.incoming.size() < kAutoconfigServerLimit) {
                config.incoming.push_back(std::move(server));
            }
        } else {
            xml.skipCurrentElement();
        }
    }
}

// Whether text shows on a screen as its bytes say: valid UTF-8 without controls, line separators or bidirectional
// overrides. log_safe_text escapes exactly those, and the backslash, which a login name may well have
// ("DOMAIN\user").
bool shows_as_is(const std::string& text) {
    std::string doubled;
    for (char c : text) {
        doubled += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return log_safe_text(text) == doubled;
}

Autoconfig refused(std::string why) {
    Autoconfig config;
    config.error = std::move(why);
    return config;
}

} // namespace

Autoconfig parse_autoconfig(std::string_view bytes) {
    if (bytes.size() > kAutoconfigLimit) {
        return refused("the answer is larger than " + std::to_string(kAutoconfigLimit) + " bytes");
    }
    QXmlStreamReader xml(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    while (!xml.atEnd() && xml.readNext() != QXmlStreamReader::StartElement) {
        if (xml.tokenType() == QXmlStreamReader::DTD) {
            return refused("the answer declares a document type");
        }
    }
    if (xml.hasError()) {
        return refused("broken XML: " + xml.errorString().toStdString());
    }
    if (xml.tokenType() != QXmlStreamReader::StartElement || !named(xml, "clientConfig")) {
        return refused("the answer is not an autoconfig file");
    }
    Autoconfig config;
    while (xml.readNextStartElement()) {
        if (named(xml, "emailProvider")) {
            read_provider(xml, config);
        } else {
            xml.skipCurrentElement();
        }
    }
    // What follows the root must be well-formed too: a file cut or garbled anywhere is not taken in part.
    while (!xml.atEnd()) {
        xml.readNext();
    }
    if (xml.hasError()) {
        return refused("broken XML: " + xml.errorString().toStdString());
    }
    config.ok = true;
    return config;
}

std::vector<ServerCandidate> autoconfig_candidates(const Autoconfig& config, std::string_view address,
                                                   std::string_view domain, bool prefer_imap) {
    std::vector<ServerCandidate> out;
    const std::string address_text(address);
    for (const AutoconfigServer& s : config.incoming) {
        const bool oauth_only = s.oauth2 && !s.password;
        const bool can_sign_in = s.password || s.oauth2 || !s.other_method;
        ServerCandidate c;
        c.host = host_name(fill_placeholders(s.host, address));
        if (c.host.empty() || s.port == 0 || s.security < 0 || !can_sign_in) {
            continue;
        }
        c.imap = s.imap;
        c.port = s.port;
        c.security = s.security;
        c.user = fill_placeholders(s.username, address);
        if (!shows_as_is(c.user)) {
            continue; // a login name that cannot be shown as it is cannot be typed either
        }
        if (c.user == address_text) {
            c.user.clear();
        }
        c.sign_in = oauth_only ? SignIn::oauth2 : SignIn::password;
        c.oauth_preset = oauth_only ? oauth_preset_for_host(c.host) : "";
        c.source = ServerSource::autoconfig;
        c.source_name = std::string(domain);
        out.push_back(std::move(c));
    }
    order_candidates(out, prefer_imap);
    return out;
}
