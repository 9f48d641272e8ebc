#include "app/CQXCfgApp.h"
#include "app/CQXCommandLineInfo.h"

#include <cstdio>

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they need no display and touch no profile.
    const CQXCommandLineInfo commandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (commandLine.help()) {
        std::fputs(CQXCommandLineInfo::usage(), stdout);
        return 0;
    }
    if (commandLine.version()) {
        std::puts("qxcfg (Tessera Quadrix Configurator) " QX_VERSION);
        return 0;
    }
    CQXCfgApp application(argc, argv);
    return application.run();
}
