#include "app/DesktopMain.h"
#include "app/HeadlessUi.h"
#include "common/VersionInfo.h"
#include "observe/HistoryReport.h"
#include "observe/Observer.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--history") == 0) {
            QCoreApplication app(argc, argv);
            return quvo::printHistory(quvo::Observer::historyPath(), app.arguments().mid(1));
        }
        if (std::strcmp(argv[i], "--headless") == 0)
            headless = true;
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quvo-hwclient %s\n", quvo::buildProductVersion().toUtf8().constData());
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts(
                "quvo-hwclient [--headless] [NAME=..] [PLACE=..] [COLOR=..] [AUTOREGISTER=1] [CALLLIST=..]\n"
                "              [SERVERNAME=..] [SERVERPORT=..]\n"
                "quvo-hwclient --history [--since ÅÅÅÅ-MM-DD] [--csv]\n"
                "  --headless  utan fönster; meddelanden som rader på standard error\n"
                "  --history   skriver kallelsehistoriken (--csv: semikolonseparerad), även medan programmet kör\n"
                "  --version   skriver programmets version\n"
                "  --help      den här texten\n"
                "\n"
                "Miljövariabler som programmet läser:\n"
                "  DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM  bildskärmen; utan dem krävs --headless\n"
                "  XDG_CONFIG_HOME   användarens inställningar i $XDG_CONFIG_HOME/Veltaris/ (standard ~/.config)\n"
                "  XDG_CONFIG_DIRS   datorns inställningar i den första mappen + /Veltaris/ (standard /etc/xdg)\n"
                "  XDG_DATA_HOME     hämtade programversioner och historiken (history.sqlite) i $XDG_DATA_HOME/Veltaris/QUVO/\n"
                "                    (standard ~/.local/share)\n"
                "  QUVO_TELLDUS_LIBRARY  Telldus-biblioteket som ska laddas i stället för libtelldus-core.so.2\n"
                "  NOTIFY_SOCKET, WATCHDOG_USEC  systemd: start, status och vakthund (huvudlöst)\n"
                "  JOURNAL_STREAM    systemd-journalen: raderna får sin prioritet (huvudlöst)\n"
                "  XRDP_SESSION, SSH_CONNECTION, SSH_CLIENT, SSH_TTY med DISPLAY  fjärrsession: datornamnet tas\n"
                "                    från CLIENTNAME, annars från SSH-klientens adress");
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
