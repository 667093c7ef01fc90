// SPDX-License-Identifier: GPL-3.0-or-later
#include "credentials/mail_providers.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#ifndef KD5_GOOGLE_CLIENT_ID
#define KD5_GOOGLE_CLIENT_ID ""
#endif
#ifndef KD5_GOOGLE_CLIENT_SECRET
#define KD5_GOOGLE_CLIENT_SECRET ""
#endif
#ifndef KD5_MICROSOFT_CLIENT_ID
#define KD5_MICROSOFT_CLIENT_ID ""
#endif

namespace {

constexpr MailProvider kProviders[] = {
    {"Gmail", "gmail.com googlemail.com", "imap.gmail.com", 993, "pop.gmail.com", 995, ProviderSecret::oauth2, "google"},
    {"Outlook.com", "outlook.com hotmail.com live.com msn.com outlook.jp hotmail.co.jp live.jp",
     "outlook.office365.com", 993, "outlook.office365.com", 995, ProviderSecret::oauth2, "microsoft"},
    {"Yahoo", "yahoo.com ymail.com", "imap.mail.yahoo.com", 993, "pop.mail.yahoo.com", 995, ProviderSecret::app_password,
     ""},
    {"iCloud", "icloud.com me.com mac.com", "imap.mail.me.com", 993, "", 0, ProviderSecret::app_password, ""},
    {"QQ", "qq.com foxmail.com", "imap.qq.com", 993, "pop.qq.com", 995, ProviderSecret::authorization_code, ""},
    {"163", "163.com", "imap.163.com", 993, "pop.163.com", 995, ProviderSecret::authorization_code, ""},
    {"126", "126.com", "imap.126.com", 993, "pop.126.com", 995, ProviderSecret::authorization_code, ""},
    {"yeah.net", "yeah.net", "imap.yeah.net", 993, "pop.yeah.net", 995, ProviderSecret::authorization_code, ""},
    {"Aliyun", "aliyun.com", "imap.aliyun.com", 993, "pop3.aliyun.com", 995, ProviderSecret::app_password, ""},
    {"Sina", "sina.com sina.cn", "imap.sina.com", 993, "pop.sina.com", 995, ProviderSecret::authorization_code, ""},
};

// Each row's domains are the mail exchangers its customers are told to publish as MX.
constexpr MailProvider kHosted[] = {
    {"Google Workspace", "google.com googlemail.com", "imap.gmail.com", 993, "pop.gmail.com", 995,
     ProviderSecret::oauth2, "google"},
    {"Microsoft 365", "mail.protection.outlook.com", "outlook.office365.com", 993, "outlook.office365.com", 995,
     ProviderSecret::oauth2, "microsoft"},
    {"腾讯企业邮", "mxbiz1.qq.com mxbiz2.qq.com", "imap.exmail.qq.com", 993, "pop.exmail.qq.com", 995,
     ProviderSecret::app_password, ""},
    {"网易企业邮箱", "qiye163mx01.mxmail.netease.com qiye163mx02.mxmail.netease.com qiye.163.com", "imap.qiye.163.com",
     993, "pop.qiye.163.com", 995, ProviderSecret::authorization_code, ""},
    {"阿里企业邮箱", "mxhichina.com", "imap.qiye.aliyun.com", 993, "pop.qiye.aliyun.com", 995,
     ProviderSecret::app_password, ""},
    {"Zoho Mail", "zoho.com", "imappro.zoho.com", 993, "poppro.zoho.com", 995, ProviderSecret::app_password, ""},
    {"Zoho Mail", "zoho.eu", "imappro.zoho.eu", 993, "poppro.zoho.eu", 995, ProviderSecret::app_password, ""},
    {"Zoho Mail", "zoho.in", "imappro.zoho.in", 993, "poppro.zoho.in", 995, ProviderSecret::app_password, ""},
    {"Yandex 360", "yandex.net yandex.ru", "imap.yandex.com", 993, "pop.yandex.com", 995, ProviderSecret::app_password,
     ""},
    {"iCloud+", "mail.icloud.com", "imap.mail.me.com", 993, "", 0, ProviderSecret::app_password, ""},
    {"Yahoo", "yahoodns.net", "imap.mail.yahoo.com", 993, "pop.mail.yahoo.com", 995, ProviderSecret::app_password,
     ""},
    {"Fastmail", "messagingengine.com", "imap.fastmail.com", 993, "pop.fastmail.com", 995,
     ProviderSecret::app_password, ""},
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Whether one of the words, separated by spaces, is one that matches takes.
template <class Match> bool any_word(std::string_view words, Match matches) {
    while (!words.empty()) {
        const std::size_t space = words.find(' ');
        if (matches(words.substr(0, space))) {
            return true;
        }
        words = space == std::string_view::npos ? std::string_view() : words.substr(space + 1);
    }
    return false;
}

bool has_word(std::string_view words, std::string_view word) {
    return any_word(words, [word](std::string_view w) { return w == word; });
}

// The host of an absolute URL: between "//" and the next "/", "?" or "#", without user information or port.
std::string url_host(std::string_view url) {
    const std::size_t start = url.find("//");
    if (start == std::string_view::npos) {
        return "";
    }
    std::string_view rest = url.substr(start + 2);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        rest = rest.substr(at + 1);
    }
    if (rest.starts_with('[')) {
        return lower(rest.substr(0, rest.find(']') + 1));
    }
    return lower(rest.substr(0, rest.find(':')));
}

// 127.x.y.z written as four decimal numbers; a name that merely begins with "127." is no address.
bool loopback_ipv4(const std::string& host) {
    int parts = 0;
    std::size_t at = 0;
    while (at <= host.size()) {
        const std::size_t dot = std::min(host.find('.', at), host.size());
        const std::string part = host.substr(at, dot - at);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255) {
            return false;
        }
        if (parts == 0 && part != "127") {
            return false;
        }
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

} // namespace

const MailProvider* mail_provider_for(std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 == address.size()) {
        return nullptr;
    }
    const std::string domain = lower(address.substr(at + 1));
    for (const MailProvider& p : kProviders) {
        if (has_word(p.domains, domain)) {
            return &p;
        }
    }
    return nullptr;
}

const MailProvider* hosted_mail_for_exchanger(std::string_view host) {
    std::string name = lower(host);
    if (name.ends_with('.')) {
        name.pop_back();
    }
    // A name's own labels only: "evilgoogle.com" is no host of google.com.
    const auto names = [&name](std::string_view word) {
        return name == word ||
               (name.size() > word.size() && name.ends_with(word) && name[name.size() - word.size() - 1] == '.');
    };
    for (const MailProvider& row : kHosted) {
        if (any_word(row.domains, names)) {
            return &row;
        }
    }
    return nullptr;
}

const MailProvider* mail_providers(std::size_t* count) {
    *count = std::size(kProviders);
    return kProviders;
}

bool oauth_endpoints(std::string_view provider, bool imap, std::string_view auth_url, std::string_view token_url,
                     std::string_view scope, std::string_view client_id, OAuthEndpoints& out, std::string* why) {
    out = OAuthEndpoints{};
    if (provider == "google") {
        out.auth_url = "https://accounts.google.com/o/oauth2/v2/auth";
        out.token_url = "https://oauth2.googleapis.com/token";
        out.scope = "https://mail.google.com/";
        out.client_id = KD5_GOOGLE_CLIENT_ID;
        out.client_secret = KD5_GOOGLE_CLIENT_SECRET;
    } else if (provider == "microsoft") {
        // The common tenant takes work, school and personal accounts alike.
        out.auth_url = "https://login.microsoftonline.com/common/oauth2/v2.0/authorize";
        out.token_url = "https://login.microsoftonline.com/common/oauth2/v2.0/token";
        out.scope = imap ? "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"
                         : "https://outlook.office.com/POP.AccessAsUser.All offline_access";
        out.client_id = KD5_MICROSOFT_CLIENT_ID;
    } else if (provider == "custom") {
        out.auth_url = auth_url;
        out.token_url = token_url;
        out.scope = scope;
    } else {
        *why = "the OAuthProvider setting is neither google, microsoft nor custom";
        return false;
    }
    if (!client_id.empty()) {
        out.client_id = client_id;
        out.client_secret.clear(); // the build's secret belongs to the build's id
    }
    if (out.token_url.empty()) {
        *why = "the custom provider has no TokenUrl";
        return false;
    }
    if (!oauth_url_allowed(out.token_url) || (!out.auth_url.empty() && !oauth_url_allowed(out.auth_url))) {
        *why = "an OAuth2 endpoint is neither https nor on this machine";
        return false;
    }
    if (out.client_id.empty()) {
        *why = "no client id: this build brings none for " + std::string(provider) +
               ", so enter your own in ClientId (see docs/user-guide.md)";
        return false;
    }
    return true;
}

bool oauth_build_brings_client_id(std::string_view provider) {
    if (provider == "google") {
        return !std::string_view(KD5_GOOGLE_CLIENT_ID).empty();
    }
    return provider == "microsoft" && !std::string_view(KD5_MICROSOFT_CLIENT_ID).empty();
}

bool oauth_url_allowed(std::string_view url) {
    const std::string scheme = lower(url.substr(0, url.find("://")));
    const std::string host = url_host(url);
    if (host.empty()) {
        return false;
    }
    if (scheme == "https") {
        return true;
    }
    if (scheme != "http") {
        return false;
    }
    return host == "localhost" || host == "[::1]" || loopback_ipv4(host);
}
