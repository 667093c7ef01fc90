#include "notifier/notifier_app.h"

int main(int argc, char* argv[]) {
    CNotifierApp::choose_platform();
    CNotifierApp app(argc, argv);
    return app.InitInstance();
}
