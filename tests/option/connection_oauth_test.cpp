// SPDX-License-Identifier: GPL-3.0-or-later
// The 连接 tab's sign-in controls: which ones a choice shows and enables, what Apply writes, 按地址填写, 登录…
// against the tests' OAuth2 provider, and the online accounts list without the desktop's service.
#include "credentials/mail_providers.h"
#include "gui/desktop.h"
#include "gui/message_box.h"
#include "option/connection_page.h"
#include "option/list_entry.h"
#include "option/option_values.h"
#include "option/sign_in.h"
#include "platform/timing.h"
#include "settings/refresh_token.h"
#include "settings/settings_access.h"
#include "tests/option/connection_controls.h"
#include "tests/setup/setup_test.h"
#include "tests/support/oauth2_provider.h"
#include "tests/support/page_layout.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>
#include <thread>

namespace {

using ConnectionOAuthTest = SetupTest;

QString note(const CConnectionPage& page, int account) {
    return control<QLabel>(page, "note", account)->text();
}

// The browser's part of the sign-in, on a thread of its own: the provider's page signs the user in at once and
// sends the browser to the loopback redirect, as a user's click on "allow" would.
void follow_sign_in(const OAuth2Provider& provider, const QUrl& url) {
    std::string headers;
    int status = 0;
    provider.request("GET", (url.path() + "?" + url.query(QUrl::FullyEncoded)).toStdString(), "", &status, &headers);
    const std::size_t at = headers.find("Location: ");
    if (at != std::string::npos) {
        OAuth2Provider::get_url(headers.substr(at + 10, headers.find("\r\n", at) - at - 10));
    }
}

} // namespace

// A stored choice shows its source's controls and enables them only for OAuth2: catches the controls of another
// source left in view, a password account whose sign-in can be pressed, and another account's controls showing
// through. Every combination keeps its texts whole.
TEST_F(ConnectionOAuthTest, ChoicesShowAndEnableTheControlsTheyNeed) {
    struct Case {
        const char* auth;
        const char* source;
        const char* shown; // the control of the source in view: "provider", "online" or "token_command"
        bool enabled;      // that control, and 登录… where it is the provider
    };
    const Case cases[] = {
        {"", "", "provider", false},  {"0", "3", "token_command", false}, {"1", "", "provider", false},
        {"1", "1", "provider", true}, {"1", "2", "online", true},         {"1", "3", "token_command", true},
    };
    const char* sources[] = {"provider", "online", "token_command"};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("Auth ") + c.auth + ", OAuthSource " + c.source);
        settings_put(Key::Auth, c.auth, 1);
        settings_put(Key::OAuthSource, c.source, 1);
        CConnectionPage page(nullptr);
        page.show();
        choose_account(page, 1);
        for (const char* name : sources) {
            QWidget* widget = control<QWidget>(page, name, 1);
            EXPECT_EQ(widget->isVisible(), std::string(name) == c.shown) << name;
            EXPECT_EQ(widget->isEnabled(), std::string(name) == c.shown && c.enabled) << name;
        }
        EXPECT_EQ(choice(page, "source", 1)->isEnabled(), *c.auth == '1');
        EXPECT_EQ(control<QWidget>(page, "sign_in", 1)->isEnabled(), std::string(c.shown) == "provider" && c.enabled);
        EXPECT_FALSE(choice(page, "protocol", 0)->isVisible());
        expect_page_fits(&page);
    }

    // Choosing OAuth2 for a password account starts it on the sign-in in the browser.
    CConnectionPage page(nullptr);
    page.show();
    pick(choice(page, "auth", 0), 1);
    EXPECT_EQ(selected_entry(choice(page, "source", 0)), 0);
    EXPECT_TRUE(control<QWidget>(page, "sign_in", 0)->isEnabled());
    EXPECT_NE(note(page, 0).indexOf(QString::fromUtf8("加密")), -1) << "OAuth2 in clear is refused by the check";
}

// Apply writes every key of every account after the ones the page had before, in the order of the file, and the
// server only where the page changed it: catches a key dropped or swapped between accounts, a hand-edited value
// that the token sources refuse written back as a valid choice, and the setup program's newer server overwritten.
TEST_F(ConnectionOAuthTest, ApplyWritesTheKeysInTheOrderOfTheFile) {
    CConnectionPage page(nullptr);
    pick(choice(page, "auth", 0), 1);
    pick(choice(page, "provider", 0), 0);
    QTest::keyClicks(control<QLineEdit>(page, "client_id", 0), "me.apps");
    click(&page, "apply");
    std::vector<std::string> expected{"user00/ServerName"};
    for (const char* account : {"user00/", "user01/", "user02/"}) {
        for (const char* key :
             {"Security", "TlsFingerprint", "Protocol", "Folder", "Auth", "OAuthSource", "OAuthProvider", "ClientId",
              "OnlineAccount", "TokenCommand", "HealthBlink", "Folders"}) {
            expected.push_back(account + std::string(key));
        }
    }
    EXPECT_EQ(keys_in_file(), expected);

    settings_put(Key::Auth, "1", 1);
    settings_put(Key::OAuthSource, "03", 1);
    settings_put(Key::OAuthProvider, "custom", 1);
    settings_put(Key::ClientId, "cid-1", 1);
    settings_put(Key::TokenCommand, "/usr/bin/oauth2-token --user a@b.example", 1);
    settings_put(Key::Auth, "7", 2);
    settings_put(Key::OAuthSource, "9", 2);
    settings_put(Key::OAuthProvider, "Google", 2);
    settings_clear();
    CConnectionPage again(nullptr);
    settings_put(Key::ServerName, "mail.example.net", 2); // the setup program, after the page was made
    click(&again, "apply");
    struct Row {
        Key key;
        int account;
        const char* stored;
    };
    const Row rows[] = {
        {Key::ServerName, 0, "pop.gmail.com:995"},
        {Key::Security, 0, "2"},
        {Key::Auth, 0, "1"},
        {Key::OAuthSource, 0, "1"},
        {Key::OAuthProvider, 0, "google"},
        {Key::ClientId, 0, "me.apps"},
        {Key::Auth, 1, "1"},
        {Key::OAuthSource, 1, "3"},
        {Key::OAuthProvider, 1, "custom"},
        {Key::ClientId, 1, "cid-1"},
        {Key::TokenCommand, 1, "/usr/bin/oauth2-token --user a@b.example"},
        {Key::ServerName, 1, "<missing>"},
        {Key::Auth, 2, "0"},
        {Key::OAuthSource, 2, ""},
        {Key::OAuthProvider, 2, ""},
        {Key::ServerName, 2, "mail.example.net"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(stored_key(r.key, r.account), r.stored) << key_name(r.key) << " of account " << r.account + 1;
    }
}

// 按地址填写 by the account's address: catches a fill that writes at once instead of on Apply, a password
// provider switched to OAuth2, an unknown domain that clears the server, and a preset that keeps the server of
// the other protocol.
TEST_F(ConnectionOAuthTest, FillByAddressTakesTheProviderTable) {
    settings_put(Key::ID, "alice@gmail.com", 0);
    settings_put(Key::Protocol, "1", 0);
    settings_put(Key::ServerName, "mail.old.example", 0);
    settings_put(Key::ID, "bob@QQ.com", 1);
    settings_put(Key::ID, "erin@example.invalid", 2); // a name that never exists: no search leaves the machine
    settings_put(Key::ServerName, "mail.example.org", 2);
    settings_put(Key::Security, "1", 2);
    settings_clear();
    CConnectionPage page(nullptr);
    page.show();

    click(&page, "fill1");
    EXPECT_EQ(control<QLineEdit>(page, "server", 0)->text(), "imap.gmail.com:993");
    EXPECT_EQ(selected_entry(choice(page, "security", 0)), 2);
    EXPECT_EQ(selected_entry(choice(page, "auth", 0)), 1);
    EXPECT_EQ(selected_entry(choice(page, "source", 0)), 0);
    EXPECT_EQ(selected_entry(choice(page, "provider", 0)), 0);
    EXPECT_TRUE(note(page, 0).startsWith("Gmail")) << note(page, 0).toStdString();
    EXPECT_EQ(stored_key(Key::ServerName, 0), "mail.old.example");

    choose_account(page, 1);
    click(&page, "fill2");
    EXPECT_EQ(control<QLineEdit>(page, "server", 1)->text(), "pop.qq.com:995");
    EXPECT_EQ(selected_entry(choice(page, "auth", 1)), 0);
    EXPECT_NE(note(page, 1).indexOf(QString::fromUtf8("授权码")), -1) << note(page, 1).toStdString();

    choose_account(page, 2);
    click(&page, "fill3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return note(page, 2).indexOf("example.invalid") != -1; }, 20000));
    EXPECT_EQ(control<QLineEdit>(page, "server", 2)->text(), "mail.example.org");
    EXPECT_EQ(selected_entry(choice(page, "security", 2)), 1);
    expect_page_fits(&page);

    choose_account(page, 0);
    pick(choice(page, "protocol", 0), 0);
    EXPECT_EQ(control<QLineEdit>(page, "server", 0)->text(), "pop.gmail.com:995");
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::ServerName, 0), "pop.gmail.com:995");
    EXPECT_EQ(stored_key(Key::Protocol, 0), "0");
    EXPECT_EQ(stored_key(Key::OAuthProvider, 0), "google");
    EXPECT_EQ(stored_key(Key::ServerName, 1), "pop.qq.com:995");
    EXPECT_EQ(stored_key(Key::Auth, 1), "0");
    EXPECT_EQ(stored_key(Key::ServerName, 2), "mail.example.org");
}

// 登录… with a test in the browser's place: the page is saved first, the note says who signed in and the refresh
// token is kept, and the window keeps answering while the browser is out, with the sign-in buttons disabled so that a
// second sign-in cannot wait inside the first.
TEST_F(ConnectionOAuthTest, SignInShowsItsResultAndKeepsTheWindowAnswering) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    settings_put(Key::ID, "alice@example.com", 1);
    settings_put(Key::Protocol, "1", 1);
    settings_put(Key::Security, "2", 1);
    settings_put(Key::Auth, "1", 1);
    settings_put(Key::OAuthSource, "1", 1);
    settings_put(Key::OAuthProvider, "custom", 1);
    settings_put(Key::AuthUrl, provider.url("/authorize").c_str(), 1);
    settings_put(Key::TokenUrl, provider.url("/token").c_str(), 1);
    settings_put(Key::Scope, "mail offline_access", 1);
    settings_clear();
    Timing patience;
    patience.sign_in_wait_ms = 20000; // a sign-in that never ends fails here rather than in five minutes
    set_timing(patience);
    CConnectionPage page(nullptr);
    page.show();
    choose_account(page, 1);
    QTest::keyClicks(control<QLineEdit>(page, "client_id", 1), "kd5lite-test");

    std::thread browser;
    std::atomic<int> opened = 0;
    QString while_waiting;
    bool button_while_waiting = true;
    set_desktop_opener([&](const QUrl& url) {
        ++opened;
        // Runs only if the window's events are handled while the sign-in waits.
        QTimer::singleShot(0, &page, [&, url] {
            while_waiting = note(page, 1);
            button_while_waiting = control<QWidget>(page, "sign_in", 1)->isEnabled();
            browser = std::thread([&provider, url] { follow_sign_in(provider, url); });
        });
    });
    // No keyring here: the token goes to the file, which a box says once.
    MessageBox::set_next_answer(QMessageBox::Ok);
    const int boxes = MessageBox::asked();
    click(&page, "sign_in2");
    if (browser.joinable()) {
        browser.join();
    }
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(stored_key(Key::ClientId, 1), "kd5lite-test"); // saved first: the sign-in reads the file
    EXPECT_EQ(while_waiting, QString::fromUtf8("请在浏览器中登录……"));
    EXPECT_FALSE(button_while_waiting);
    EXPECT_EQ(note(page, 1), QString::fromUtf8("已登录 alice@example.com"));
    EXPECT_TRUE(control<QWidget>(page, "sign_in", 1)->isEnabled());
    std::string kept;
    ASSERT_EQ(refresh_token_load(1, kept, SecretUnlock::never, 20000), 0);
    EXPECT_TRUE(kept.starts_with("rt-")) << kept;
    EXPECT_EQ(MessageBox::asked(), boxes + 1);
    EXPECT_EQ(MessageBox::last_text().toStdString(), token_kept_in_file_text(SecretResult::no_service));

    // A refusal carries the provider's words, markup or not, and shows them as they are; an "error" sent to the
    // loopback port without the sign-in's state (anyone on the machine can) ends nothing and shows nothing.
    set_desktop_opener([&](const QUrl& url) {
        const QUrlQuery query(url);
        const std::string back = query.queryItemValue("redirect_uri", QUrl::FullyDecoded).toStdString();
        const std::string state = query.queryItemValue("state", QUrl::FullyDecoded).toStdString();
        QTimer::singleShot(0, &page, [&, back, state] {
            browser = std::thread([back, state] {
                OAuth2Provider::get_url(back + "?error=%3Cb%3E%E5%B7%B2%E7%99%BB%E5%BD%95%3C%2Fb%3E");
                OAuth2Provider::get_url(back + "?error=%3Cfont+color%3Dgreen%3EOK%3C%2Ffont%3E&state=" + state);
            });
        });
    });
    click(&page, "sign_in2");
    if (browser.joinable()) {
        browser.join();
    }
    EXPECT_EQ(note(page, 1), QString::fromUtf8("未登录: the provider answered <font color=green>OK</font>"));
    EXPECT_EQ(control<QLabel>(page, "note", 1)->textFormat(), Qt::PlainText);

    pick(choice(page, "provider", 1), 1);
    EXPECT_EQ(control<QLineEdit>(page, "server", 1)->text(), "outlook.office365.com:993");
    expect_page_fits(&page);
    set_desktop_opener({});
    set_timing(Timing{});
}

// A default build brings no client id: the field's hint says one is needed instead of promising the program's own,
// and 登录… opens no browser but says in Chinese what the user can do for this provider, in words a user knows
// (no settings key names, no English). Catches the "程序自带" that was not true and the settings-file English.
TEST_F(ConnectionOAuthTest, WithoutAClientIdTheTabSaysWhatToDoInstead) {
    struct Case {
        int provider; // entry of the provider list
        const char* value;
        std::vector<const char*> advice; // words the box must hold
    };
    const Case cases[] = {
        {0, "google", {"Gmail", "应用专用密码", "0.密码", "在线帐户", "docs/user-guide.md"}},
        {1, "microsoft", {"自己", "打包", "docs/user-guide.md", "OAuth2 client ids"}},
        {2, "custom", {"客户端ID"}},
    };
    set_desktop_opener([](const QUrl&) { ADD_FAILURE() << "a browser opened without a client id"; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        settings_put(Key::Protocol, "1", 2);
        settings_put(Key::Security, "2", 2);
        settings_put(Key::Auth, "1", 2);
        settings_put(Key::OAuthSource, "1", 2);
        settings_put(Key::OAuthProvider, c.value, 2);
        settings_clear();
        CConnectionPage page(nullptr);
        page.show();
        choose_account(page, 2);
        QLineEdit* client_id = control<QLineEdit>(page, "client_id", 2);
        EXPECT_EQ(client_id->placeholderText(),
                  QString::fromUtf8(oauth_build_brings_client_id(c.value) ? "程序自带" : "需填写"));
        if (oauth_build_brings_client_id(c.value)) {
            continue; // a packager's build: the rest is about a build without one
        }
        MessageBox::set_next_answer(QMessageBox::Ok);
        const int boxes = MessageBox::asked();
        click(&page, "sign_in3");
        EXPECT_EQ(note(page, 2), QString::fromUtf8("未登录: 没有客户端ID"));
        ASSERT_EQ(MessageBox::asked(), boxes + 1);
        const std::string advice = MessageBox::last_text().toStdString();
        EXPECT_EQ(advice, no_client_id_advice(c.value));
        for (const char* word : c.advice) {
            EXPECT_NE(advice.find(word), std::string::npos) << word << " in " << advice;
        }
        for (const char* english : {"ClientId", "OAuthProvider", "no client id", "build"}) {
            EXPECT_EQ(advice.find(english), std::string::npos) << english << " in " << advice;
        }
    }
    // The hint follows the provider chosen.
    CConnectionPage page(nullptr);
    page.show();
    pick(choice(page, "auth", 0), 1);
    for (int provider : {1, 0, 2}) {
        pick(choice(page, "provider", 0), provider);
        EXPECT_EQ(control<QLineEdit>(page, "client_id", 0)->placeholderText(),
                  QString::fromUtf8(oauth_build_brings_client_id(kProviderValues[provider]) ? "程序自带" : "需填写"));
    }
    set_desktop_opener({});
}

// Without the desktop's online accounts service the list says so in words, and an account keeps the Id it has:
// catches an Apply that loses the chosen account because the service is not there today.
TEST_F(ConnectionOAuthTest, OnlineAccountsListWithoutTheService) {
    settings_put(Key::Auth, "1", 1);
    settings_put(Key::OAuthSource, "2", 1);
    settings_put(Key::OnlineAccount, "account_1712345678_0", 1);
    settings_clear();
    CConnectionPage page(nullptr);
    page.show();
    pick(choice(page, "auth", 0), 1);
    pick(choice(page, "source", 0), 1);
    QComboBox* none = choice(page, "online", 0);
    EXPECT_TRUE(none->isVisible());
    EXPECT_EQ(none->count(), 0);
    EXPECT_EQ(none->currentIndex(), -1);
    EXPECT_EQ(none->placeholderText(), QString::fromUtf8("没有GNOME在线帐户服务"));
    expect_page_fits(&page);

    choose_account(page, 1);
    QComboBox* kept = choice(page, "online", 1);
    ASSERT_EQ(kept->count(), 1);
    EXPECT_EQ(kept->currentText(), QString::fromUtf8("account_1712345678_0（不在列表中）"));
    click(&page, "apply");
    EXPECT_EQ(stored_key(Key::OnlineAccount, 1), "account_1712345678_0");
    EXPECT_EQ(stored_key(Key::OnlineAccount, 0), "");
    EXPECT_EQ(stored_key(Key::OAuthSource, 0), "2");
}
