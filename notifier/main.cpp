#include "notifier/notifier_app.h"
#include "platform/secret.h"

int main(int argc, char* argv[]) {
    switch_core_dumps_off();
    CNotifierApp::choose_platform();
    CNotifierApp app(argc, argv);
    return app.InitInstance();
}
