#include "notifier/notifier_app.h"
#include "platform/corvo_dir.h"

int main(int argc, char* argv[]) {
    if (!corvo_dir_check_at_start("kd5lite")) {
        return 1;
    }
    CNotifierApp::choose_platform();
    CNotifierApp app(argc, argv);
    return app.InitInstance();
}
