// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/address_fill.h"

#include "credentials/mail_providers.h"

namespace {

std::string server_of(const MailProvider& p, bool imap) {
    const char* host = imap ? p.imap_host : p.pop3_host;
    if (host == nullptr || *host == '\0') {
        return "";
    }
    return std::string(host) + ":" + std::to_string(imap ? p.imap_port : p.pop3_port);
}

// What else the provider wants beside the server, for the note.
const char* secret_advice(ProviderSecret secret) {
    switch (secret) {
    case ProviderSecret::oauth2: return "用OAuth2登录。";
    case ProviderSecret::app_password: return "密码请用帐户安全设置中生成的应用专用密码。";
    case ProviderSecret::authorization_code: return "密码请用网页邮箱设置中获取的授权码。";
    }
    return "";
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
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 == address.size()) {
        fill.note = "邮件ID不是邮件地址：请先在设置程序的“账户”页输入完整的地址。";
        return fill;
    }
    const MailProvider* p = mail_provider_for(address);
    if (p == nullptr) {
        fill.note = "没有“" + std::string(address.substr(at + 1)) + "”的服务器信息：请按邮件服务商的说明填写。";
        return fill;
    }
    fill.server = server_of(*p, imap);
    if (fill.server.empty()) {
        fill.note = std::string(p->name) + "不提供" + (imap ? "IMAP" : "POP3") + "：请选择另一个协议后再按一次。";
        return fill;
    }
    fill.oauth2 = p->secret == ProviderSecret::oauth2;
    if (fill.oauth2) {
        fill.provider = p->oauth_preset;
    }
    fill.note = std::string(p->name) + "：" + fill.server + "，SSL/TLS。" + secret_advice(p->secret);
    return fill;
}
