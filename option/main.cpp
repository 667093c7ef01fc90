#include "option/option_app.h"

int main(int argc, char** argv) {
    COptionApp app(argc, argv);
    return app.run();
}
