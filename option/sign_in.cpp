// SPDX-License-Identifier: GPL-3.0-or-later
#include "option/sign_in.h"

#include "credentials/oauth/oauth_flow.h"
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

SignInResult account_sign_in(int index, const std::function<void(const QUrl&)>& open_browser, int timeout_ms) {
    OAuthEndpoints endpoints;
    std::string why;
    const std::string user = settings_get(Key::ID, index);
    if (!oauth_endpoints(settings_get(Key::OAuthProvider, index), account_protocol(index) == MailProtocol::imap,
                         settings_get(Key::AuthUrl, index), settings_get(Key::TokenUrl, index),
                         settings_get(Key::Scope, index), settings_get(Key::ClientId, index), endpoints, &why)) {
        return {false, "未登录: " + why};
    }
    TokenGrant grant = sign_in_with_browser(endpoints, user, open_browser, timeout_ms);
    SignInResult result;
    TokenSave save;
    if (grant.status != TokenGrant::Status::granted) {
        result.text = "未登录: " + grant.error;
    } else if (grant.refresh_token.empty()) {
        result.text = "未登录: the provider gave no refresh token (is offline access in the scope?)";
    } else if (refresh_token_save(index, grant.refresh_token, save) != 0) {
        result.text = "未登录: the settings file could not be written";
    } else {
        result = {true, "已登录 " + user, !save.in_keyring, save.keyring};
    }
    wipe_secret(grant.access_token);
    wipe_secret(grant.refresh_token);
    return result;
}
