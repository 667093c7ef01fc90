#include "option/option_app.h"
#include "platform/corvo_dir.h"
#include "platform/secret.h"

int main(int argc, char** argv) {
    switch_core_dumps_off();
    if (!corvo_dir_check_at_start("kd5lite_op")) {
        return 1;
    }
    COptionApp app(argc, argv);
    return app.run();
}
