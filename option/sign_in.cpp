// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sign_in.h"

#include "credentials/mail_providers.h"
#include "credentials/oauth/oauth_flow.h"
#include "option/option_values.h"
#include "platform/secret.h"
#include "settings/account_secret.h"
#include "settings/key_values.h"
#include "settings/refresh_token.h"
#include "settings/settings_access.h"

std::string token_kept_in_file_text(SecretResult keyring) {
    const char* why = keyring_refusal_words(keyring);
    return std::string("刷新令牌以加扰形式保存在设置文件中，没有保存到桌面密钥环：") + why +
           "。读取设置文件的人可以还原加扰。密钥环可用后再登录一次，令牌就会移入密钥环。";
}

std::string no_client_id_advice(const std::string& provider) {
    constexpr char kSteps[] = "注册的步骤见用户指南 docs/user-guide.md 的“OAuth2 client ids”一节。";
    if (provider == "google") {
        return std::string("此程序没有自带Google的客户端ID，不能在浏览器中登录Gmail。可以这样做：\n"
                           "・在Google帐户的安全设置中生成应用专用密码，把认证选为“0.密码”，"
                           "在设置程序的「账户」页把它作为密码输入；\n"
                           "・或者在桌面的设置 → 在线帐户中添加这个Google帐户，把来源选为“2.GNOME在线帐户”；\n"
                           "・或者在客户端ID中填写您自己在Google注册的ID。") +
               kSteps;
    }
    if (provider == "microsoft") {
        return std::string("此程序没有自带Microsoft的客户端ID，而Outlook和Microsoft 365只接受OAuth2登录。"
                           "请在客户端ID中填写您自己在Microsoft注册的ID，或者打包此程序的人提供的ID。") +
               kSteps;
    }
    return "自定义的提供者没有程序自带的客户端ID：请在客户端ID中填写您在该提供者处注册的ID。";
}

SignInResult account_sign_in(int index, const std::function<void(const QUrl&)>& open_browser, int timeout_ms) {
    OAuthEndpoints endpoints;
    std::string why;
    const std::string user = settings_get(Key::ID, index);
    const std::string provider = settings_get(Key::OAuthProvider, index);
    if (settings_get(Key::ClientId, index).empty() && !oauth_build_brings_client_id(provider) &&
        provider_entry(provider) >= 0) {
        SignInResult result;
        result.text = "未登录: 没有客户端ID";
        result.advice = no_client_id_advice(provider);
        return result;
    }
    SignInResult result;
    if (!oauth_endpoints(provider, account_protocol(index) == MailProtocol::imap, settings_get(Key::AuthUrl, index),
                         settings_get(Key::TokenUrl, index), settings_get(Key::Scope, index),
                         settings_get(Key::ClientId, index), endpoints, &why)) {
        result.text = "未登录: " + why;
        return result;
    }
    TokenGrant grant = sign_in_with_browser(endpoints, user, open_browser, timeout_ms);
    TokenSave save;
    if (grant.status != TokenGrant::Status::granted) {
        result.text = "未登录: " + grant.error;
    } else if (grant.refresh_token.empty()) {
        result.text = "未登录: the provider gave no refresh token (is offline access in the scope?)";
    } else if (refresh_token_save(index, grant.refresh_token, save) != 0) {
        result.text = "未登录: the settings file could not be written";
    } else {
        result.signed_in = true;
        result.text = "已登录 " + user;
        result.kept_in_file = !save.in_keyring;
        result.keyring = save.keyring;
    }
    wipe_secret(grant.access_token);
    wipe_secret(grant.refresh_token);
    return result;
}
