#include "app/DesktopMain.h"
#include "app/HeadlessUi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            headless = true;
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("quvo-hwclient [--headless] [NAME=..] [PLACE=..] [COLOR=..] [AUTOREGISTER=1] [CALLLIST=..]\n"
                      "              [SERVERNAME=..] [SERVERPORT=..]\n"
                      "  --headless  run without windows; messages go to standard error");
            return 0;
        }
    }
    if (headless)
        return quvo::runHeadless(argc, argv);

    const auto empty = [](const char* name) { const char* v = std::getenv(name); return !v || !*v; };
    if (empty("DISPLAY") && empty("WAYLAND_DISPLAY") && empty("QT_QPA_PLATFORM")) {
        std::fputs("quvo-hwclient: ingen bildskärm hittades (DISPLAY är inte satt).\n"
                   "Starta med --headless för att köra utan fönster.\n", stderr);
        return 1;
    }
    return quvo::runDesktop(argc, argv);
}
