// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/address_fill.h"

#include "credentials/mail_providers.h"
#include "discovery/provider_servers.h"
#include "platform/timing.h"

namespace {

constexpr char kNotAnAddress[] = "邮件ID不是邮件地址：请先在设置程序的“账户”页输入完整的地址。";

std::string server_of(const MailProvider& p, bool imap) {
    const char* host = imap ? p.imap_host : p.pop3_host;
    if (host == nullptr || *host == '\0') {
        return "";
    }
    return std::string(host) + ":" + std::to_string(imap ? p.imap_port : p.pop3_port);
}

// What else the provider wants beside the server, for the note.
const char* secret_advice(SignIn sign_in) {
    switch (sign_in) {
    case SignIn::oauth2: return "用OAuth2登录。";
    case SignIn::app_password: return "密码请用帐户安全设置中生成的应用专用密码。";
    case SignIn::authorization_code: return "密码请用网页邮箱设置中获取的授权码。";
    case SignIn::password: break;
    }
    return "";
}

std::string source_words(const ServerCandidate& c) {
    switch (c.source) {
    case ServerSource::table: return c.source_name + "：";
    case ServerSource::autoconfig: return "从 " + c.source_name + " 的自动配置：";
    case ServerSource::srv: return "从 DNS SRV 记录：";
    case ServerSource::mx: return "邮件由 " + c.source_name + " 托管：";
    case ServerSource::guess: return "按常用的服务器名称找到：";
    }
    return "";
}

const char* security_words(const ServerCandidate& c) {
    switch (c.security) {
    case kSecurityTls: return "SSL/TLS";
    case kSecurityStartTls: return c.imap ? "STARTTLS" : "STLS";
    default: return "不加密";
    }
}

std::string server_name(const ServerCandidate& c) {
    return c.host + ":" + std::to_string(c.port);
}

// Where the server came from, the server and its security, and what the user must see to: another protocol, a
// connection in clear, another login name, the secret the provider wants.
std::string found_note(const ServerCandidate& c, bool imap_chosen) {
    std::string note = source_words(c) + server_name(c) + "，" + security_words(c) + "。";
    if (c.imap != imap_chosen) {
        note += std::string("协议改为") + (c.imap ? "IMAP" : "POP3") + "。";
    }
    if (c.security == kSecurityClear) {
        note += "它只能不加密连接，密码会明文传送。";
    }
    if (!c.user.empty()) {
        note += "登录名是“" + c.user + "”：请在设置程序中把邮件ID改为它。";
    }
    return note + secret_advice(c.sign_in);
}

AddressFill fill_for(const ServerCandidate& c, bool imap_chosen) {
    AddressFill fill;
    fill.server = server_name(c);
    fill.security = c.security;
    fill.imap = c.imap;
    fill.oauth2 = c.sign_in == SignIn::oauth2;
    if (fill.oauth2) {
        fill.provider = c.oauth_preset.empty() ? "custom" : c.oauth_preset;
    }
    fill.note = found_note(c, imap_chosen);
    return fill;
}

} // namespace

std::string preset_server(std::string_view provider, bool imap) {
    if (provider.empty()) {
        return "";
    }
    std::size_t count = 0;
    const MailProvider* rows = mail_providers(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (provider == rows[i].oauth_preset) {
            return server_of(rows[i], imap);
        }
    }
    return "";
}

AddressFill address_fill(std::string_view address, bool imap) {
    AddressFill fill;
    fill.imap = imap;
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 == address.size()) {
        fill.note = kNotAnAddress;
        return fill;
    }
    const MailProvider* p = mail_provider_for(address);
    if (p == nullptr) {
        fill.search = !address_domain(address).empty();
        fill.note = "没有“" + std::string(address.substr(at + 1)) + "”的服务器信息：请按邮件服务商的说明填写。";
        return fill;
    }
    fill.note = std::string(p->name) + "不提供" + (imap ? "IMAP" : "POP3") + "：请选择另一个协议后再按一次。";
    for (const ServerCandidate& c : table_candidates(*p, imap)) {
        if (c.imap == imap) {
            return fill_for(c, imap);
        }
    }
    return fill;
}

AddressFill discovered_fill(const DiscoveryResult& result, bool imap) {
    if (result.end == DiscoveryEnd::found) {
        return fill_for(result.server, imap);
    }
    AddressFill fill;
    fill.imap = imap;
    const std::string domain = "“" + result.domain + "”";
    switch (result.end) {
    case DiscoveryEnd::stopped: fill.note = "已取消查找。"; break;
    case DiscoveryEnd::timed_out:
        fill.note = std::to_string(timing().discovery_total_ms / 1000) + "秒内没有找到" + domain +
                    "的邮件服务器：请稍后再试，或按邮件服务商的说明填写。";
        break;
    case DiscoveryEnd::no_address: fill.note = kNotAnAddress; break;
    default:
        fill.note = "没有找到" + domain + "的邮件服务器（自动配置、SRV、MX、常用名称）：请按邮件服务商的说明填写。";
        break;
    }
    return fill;
}
