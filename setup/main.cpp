#include "setup/setup_app.h"

int main(int argc, char** argv) {
    CSetupApp app(argc, argv);
    return app.run();
}
