#include "setup/setup_app.h"
#include "platform/corvo_dir.h"

int main(int argc, char** argv) {
    if (!corvo_dir_check_at_start("kd5lite_ap")) {
        return 1;
    }
    CSetupApp app(argc, argv);
    return app.run();
}
