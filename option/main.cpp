#include "option/option_app.h"
#include "platform/secret.h"

int main(int argc, char** argv) {
    switch_core_dumps_off();
    COptionApp app(argc, argv);
    return app.run();
}
