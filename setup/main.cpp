#include "setup/setup_app.h"
#include "platform/secret.h"

int main(int argc, char** argv) {
    switch_core_dumps_off();
    CSetupApp app(argc, argv);
    return app.run();
}
