#include "app/DesktopMain.h"

#include "app/DesktopSession.h"
#include "app/DesktopTexts.h"
#include "app/DesktopUi.h"
#include "app/SignalQuit.h"
#include "app/TfrmQuvoHWMain.h"
#include "core/HardwareClient.h"
#include "observe/Observer.h"
#include "settings_dialog/MessageDialogs.h"
#include "settings_dialog/Themes.h"

#include <QApplication>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>

namespace quvo {

int runDesktop(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Same name as the headless front end, so both share their data folders.
    QCoreApplication::setApplicationName(desktop_texts::kApplicationTitle);
    // The taskbar takes its name and icon from the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("quvo-hwclient"));
    // The window hides into the tray; only the quit path ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    installSwedishDialogTexts(&app);

    QStringList params = app.arguments().mid(1);
    params.removeAll(QStringLiteral("--headless"));

    DesktopUi ui;
    HardwareClient client(ui, params);
    // The update client's balloon points at the middle of the whole desktop.
    client.setScreenCentreSource([] {
        const QRect desktop = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->virtualGeometry() : QRect();
        return QPoint(desktop.width() / 2, desktop.height() / 2);
    });
    TfrmQuvoHWMain window(client);
    ui.setMainWindow(&window);
    window.FormCreate();
    // The endpoint only when StatusListen asks for it; the history always.
    Observer observer(client);
    QObject::connect(&observer, &Observer::notice, &window, [&window](const QString& t, bool warning) {
        if (warning)
            window.showTrayNotice(t, true);
    });
    observer.start(QString());

    // A name that matches no style leaves the platform's look, silently.
    applyStyle(client.settings().ReadSetting(QStringLiteral("KlientSettings"), QStringLiteral("Style")));

    DesktopSession session(client);
    session.watchScreenSaverSetting();
    session.watchSleep();

    installQuitSignals(&window, [&window] { window.requestQuit(); });
    // Log-off or shutdown: leave the answer to the session manager at once and
    // quit from the event loop.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { QTimer::singleShot(0, &window, &TfrmQuvoHWMain::requestQuit); },
                     Qt::DirectConnection);

    window.show();
    const int code = app.exec();
    if (!client.quitting())
        client.quit();
    session.releaseScreenSaver();
    return code == 0 ? 1 : code;
}

} // namespace quvo
