#include "app/CQXCfgApp.h"

int main(int argc, char** argv) {
    CQXCfgApp application(argc, argv);
    return application.run();
}
