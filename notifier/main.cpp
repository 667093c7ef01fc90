#include "notifier/check/check.h"
#include "notifier/notifier_app.h"
#include "notifier/oauth/browser_token_source.h"
#include "platform/corvo_dir.h"
#include "platform/secret.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    switch_core_dumps_off(); // the check, like the notifier, holds the accounts' plain passwords
    // The check reports an untrusted settings directory as one of its findings.
    // Accounts signed in with the browser get their access tokens refreshed here; the refresh waits in a Qt event
    // loop, which needs the application object, in the check as in the notifier.
    install_browser_token_source();
    if (argc == 2 && std::strcmp(argv[1], "--check") == 0) {
        QCoreApplication core(argc, argv);
        return run_check(stdout);
    }
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: kd5lite [--check]\n\n"
                    "Without options, the mail-arrival notifier in the notification area.\n"
                    "--check  says in the terminal whether the settings, the lamp, each account and the sound\n"
                    "         work; exit status 0 when everything monitoring needs works, else 1.\n");
        return 0;
    }
    if (!corvo_dir_check_at_start("kd5lite")) {
        return 1;
    }
    CNotifierApp::choose_platform();
    CNotifierApp app(argc, argv);
    return app.InitInstance();
}
