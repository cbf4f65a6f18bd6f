#include "../common/PixelContrast.h"
#include "../core/FakeServer.h"

#include "app/DesktopMain.h"
#include "app/DesktopSession.h"
#include "app/DesktopUi.h"
#include "app/SignalQuit.h"
#include "app/TfrmQuvoHWMain.h"
#include "common/Paths.h"
#include "common/ClientIdentity.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ServerConnection.h"
#include "core/UpdateClient.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"
#include "settings_dialog/Balloon.h"
#include "settings_dialog/MessageDialogs.h"
#include "settings_dialog/Themes.h"
#include "settings_dialog/TfrmSystreg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLibrary>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>

using namespace quvo;

namespace {

const QString kClinic = QStringLiteral("Vårdcentralen Demo");
const QString kDeviceSection = QStringLiteral("QUVO_HWClient");

// Answers every modal window that opens while it lives.
class ModalWatcher : public QObject {
public:
    explicit ModalWatcher(std::function<void(QWidget*)> answer) : m_answer(std::move(answer))
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible() && !m_busy) {
                m_busy = true;
                m_answer(modal);
                m_busy = false;
            }
        });
        m_timer.start();
    }

private:
    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
    bool m_busy = false;
};

// Closes message boxes with their escape button ("OK", "Nej") and the
// settings dialog, remembering what it saw.
struct AutoAnswer {
    QStringList messages;
    QList<SettingsPage> dialogPages;
    ModalWatcher watcher{[this](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            messages << box->text();
            box->escapeButton() ? box->escapeButton()->click() : box->reject();
        } else if (auto* dialog = qobject_cast<TfrmSystreg*>(w)) {
            dialogPages << dialog->activePage();
            dialog->reject();
        }
    }};
};

// One desktop front end on its own settings folder.
struct Desk {
    QTemporaryDir dir;
    SettingsLocations where;
    DesktopUi ui;
    std::unique_ptr<HardwareClient> client;
    std::unique_ptr<TfrmQuvoHWMain> window;
    std::unique_ptr<AutoAnswer> answers;
    bool autoAnswer = true;
    bool trayAvailable = true;

    Desk()
    {
        where.userDir = dir.filePath(QStringLiteral("user/Veltaris"));
        where.machineDir = dir.filePath(QStringLiteral("machine/Veltaris"));
    }
    ~Desk()
    {
        window.reset();
        client.reset();
    }

    void preset(const QString& section, const QString& key, const QString& value)
    {
        SettingsStore store(where);
        store.setSettingsFolderKey(InitPaths().SettingsFolderKey);
        store.WriteSetting(section, key, value);
    }

    void presetServer(quint16 port)
    {
        preset(QStringLiteral("ServerSettings"), QStringLiteral("ServerName"), QStringLiteral("127.0.0.1"));
        preset(QStringLiteral("ServerSettings"), QStringLiteral("ServerPort"), QString::number(port));
    }

    // A closed port unless the test names a server: the first show then
    // opens no message box.
    void create(const QStringList& params = {})
    {
        SettingsStore store(where);
        store.setSettingsFolderKey(InitPaths().SettingsFolderKey);
        if (store.ReadSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerName")) == QLatin1String(kSettingMissing)) {
            store.WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerName"), QStringLiteral("127.0.0.1"));
            store.WriteSetting(QStringLiteral("ServerSettings"), QStringLiteral("ServerPort"), QStringLiteral("1"));
        }
        if (autoAnswer)
            answers = std::make_unique<AutoAnswer>();
        client = std::make_unique<HardwareClient>(ui, params, where);
        window = std::make_unique<TfrmQuvoHWMain>(*client);
        window->setTrayAvailabilityProbe([this] { return trayAvailable; });
        ui.setMainWindow(window.get());
        window->FormCreate();
    }

    QString stored(const QString& section, const QString& key)
    {
        return client->settings().ReadSetting(section, key);
    }
};

// The server simulator as a child process.
struct Sim {
    QProcess process;
    quint16 port = 0;
    QByteArray output;

    bool start()
    {
#ifdef QUVO_SERVER_SIM
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(QUVO_SERVER_SIM), {QStringLiteral("--clinic"), kClinic});
        if (!process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100 && port == 0; ++i) {
            process.waitForReadyRead(100);
            output += process.readAll();
            const int at = output.indexOf("LISTENING ");
            const int end = output.indexOf('\n', at);
            if (at >= 0 && end > at)
                port = quint16(output.mid(at + 10, end - at - 10).trimmed().toUInt());
        }
        return port != 0;
#else
        return false;
#endif
    }
    void send(const QByteArray& command) { process.write(command + "\n"); }
    ~Sim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.write("quit\n");
            if (!process.waitForFinished(2000))
                process.kill();
            process.waitForFinished(2000);
        }
    }
};

using test::contrast;
using test::kPixelScale;
using test::renderedLarge;
using test::scaledArea;

// Where a button's caption is drawn, in the button's own coordinates.
QRect captionArea(QAbstractButton* b)
{
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    if (qobject_cast<QCheckBox*>(b))
        return b->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, b);
    if (qobject_cast<QRadioButton*>(b))
        return b->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, b);
    // A push button centres its icon and text together; the icon is no caption.
    const int textWidth = b->fontMetrics().horizontalAdvance(b->text().remove(QLatin1Char('&')));
    const int iconWidth = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
    const int left = (b->width() - textWidth - iconWidth) / 2 + iconWidth;
    return QRect(left, 3, textWidth, b->height() - 6);
}

QRect indicatorArea(QAbstractButton* b)
{
    QStyleOptionButton opt;
    opt.initFrom(b);
    const bool radio = qobject_cast<QRadioButton*>(b) != nullptr;
    return b->style()->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator, &opt, b);
}

// Every caption of a window, as areas of its grabbed picture.
QList<QPair<QString, QRect>> captionsOf(QWidget* window)
{
    QList<QPair<QString, QRect>> out;
    const auto add = [&](QWidget* w, const QRect& local) {
        if (w->window() != window || !w->isVisibleTo(window))
            return;
        const QRect area(w->mapTo(window, local.topLeft()), local.size());
        // What lies under a panel on top is not on view.
        QWidget* top = window->childAt(area.center());
        if (top != w && !w->isAncestorOf(top))
            return;
        out.append({w->objectName() + QLatin1Char(' ') + w->metaObject()->className() + QLatin1Char(' ')
                        + (qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text() : QString()),
                    area});
    };
    for (QLabel* l : window->findChildren<QLabel*>())
        if (!l->text().isEmpty() && !l->window()->inherits("QMenu"))
            add(l, l->contentsRect().adjusted(2, 2, -2, -2));
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (!b->text().isEmpty() && !b->inherits("QToolButton"))
            add(b, captionArea(b));
    for (QGroupBox* g : window->findChildren<QGroupBox*>()) {
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        opt.textAlignment = g->alignment();
        opt.lineWidth = 1;
        add(g, g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g));
    }
    for (QTabBar* bar : window->findChildren<QTabBar*>())
        for (int i = 0; i < bar->count(); ++i)
            if (bar->isTabVisible(i))
                add(bar, bar->tabRect(i).adjusted(4, 3, -4, -3));
    return out;
}

QWidget* balloonWidget()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("quvoBalloon"))
            return w;
    }
    return nullptr;
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void windowAsCreated();
    void restoredDeviceSettingsShown();
    void deviceControlsWriteAtOnce();
    void statusFollowsTheCore();
    void connectionLifeAgainstServer();
    void screenSaverSettingReadAtEveryCheck();
    void closingHidesOrMinimises();
    void trayDoubleClickBringsWindowBack();
    void f10OpensServerSettings();
    void messageDialogs();
    void swedishStandardButtons();
    void balloonPointsAtControl();
    void themesByName();
    void everyThemeReadable();
    void signalsReachEventLoop();
    void longServerErrorHoldsNoCallUp();
    void sigtermDuringMessageEndsWithCodeOne();
    // Last: the core's quit path ends every event loop of the process.
    void avslutaQuitsWithCodeOne();

private:
    QTemporaryDir m_home;
};

void DesktopTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", m_home.filePath(QStringLiteral("xdg")).toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
#ifdef QUVO_TELLDUS_SIM
    qputenv("QUVO_TELLDUS_LIBRARY", QUVO_TELLDUS_SIM);
    qputenv("TELLDUS_SIM_DEVICES", "1:Lampa");
    qputenv("TELLDUS_SIM_LOG", m_home.filePath(QStringLiteral("telldus.log")).toUtf8());
    qputenv("TELLDUS_SIM_CONTROL", m_home.filePath(QStringLiteral("telldus.control")).toUtf8());
#endif
    installSwedishDialogTexts(qApp);
}

void DesktopTest::windowAsCreated()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;

    QVERIFY(w.windowTitle().startsWith(QStringLiteral("QUVO Windows Hårdvaruklient för TellStick  version: ")));
    QCOMPARE(w.size(), QSize(423, 234));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(w.font().pointSize(), 8);

    QCOMPARE(w.Panel1->geometry(), QRect(0, 0, 423, 41));
    QCOMPARE(w.Panel3->geometry(), QRect(0, 234 - 29, 423, 29));
    QCOMPARE(w.BitBtn1->text(), QStringLiteral("Inställningar..."));
    QCOMPARE(w.shServerConnected->size(), QSize(25, 25));
    QCOMPARE(w.shServerConnected->fill(), QColor(255, 0, 0));
    QCOMPARE(w.Label1->text(), QStringLiteral("Ej ansluten"));
    QCOMPARE(w.Button7->text(), QStringLiteral("&Stäng"));
    QCOMPARE(w.Button7->toolTip(), QStringLiteral("Stänger QUVO Windows Hårdvaruklient för TellStick"));
    QVERIFY(w.Button7->geometry().right() >= 423 - 6);   // right-aligned
    QVERIFY(w.Label1->geometry().right() < w.Button7->geometry().left());

    QCOMPARE(w.Label2->text(), QStringLiteral("Namn på TellSticksenhet som skall styras:"));
    QCOMPARE(w.BitBtn2->text(), QStringLiteral("Anslut"));
    QCOMPARE(w.Label3->text(), QStringLiteral("Status:"));
    QCOMPARE(w.Panel4->size(), QSize(152, 102));
    QCOMPARE(w.Panel4->font().pixelSize(), 21);
    QCOMPARE(w.Panel4->text(), QStringLiteral("Ej ansluten"));
    QCOMPARE(w.Panel4->fill(), QColor(255, 0, 0));
    QCOMPARE(w.Panel4->frameShadow(), QFrame::Sunken);

    QCOMPARE(w.GroupBox1->title(), QStringLiteral("Vid varje kallelse"));
    QCOMPARE(w.RadioButton1->text(), QStringLiteral("Aktivera enheten i"));
    QCOMPARE(w.RadioButton2->text(), QStringLiteral("Aktivera enheten tills ankomst bekräftats"));
    QVERIFY(w.RadioButton2->isChecked());
    QVERIFY(!w.RadioButton1->isChecked());
    QCOMPARE(w.SpinEdit1->minimum(), 1);
    QCOMPARE(w.SpinEdit1->maximum(), 999);
    QCOMPARE(w.SpinEdit1->value(), 2);
    QCOMPARE(w.Label4->text(), QStringLiteral("sekunder"));
    QCOMPARE(w.CheckBox1->text(), QStringLiteral("Blinka med"));
    QVERIFY(!w.CheckBox1->isChecked());
    QCOMPARE(w.SpinEdit2->minimum(), 100);
    QCOMPARE(w.SpinEdit2->maximum(), 5000);
    QCOMPARE(w.SpinEdit2->value(), 500);
    QCOMPARE(w.Label5->text(), QStringLiteral("msek intervall"));

    // Every control lies inside the window and the middle band.
    for (QWidget* c : {static_cast<QWidget*>(w.Label2), static_cast<QWidget*>(w.Edit1), static_cast<QWidget*>(w.BitBtn2),
                       static_cast<QWidget*>(w.Label3), static_cast<QWidget*>(w.Panel4), static_cast<QWidget*>(w.GroupBox1)}) {
        QVERIFY2(c->geometry().top() >= 41 && c->geometry().bottom() < 234 - 29, qPrintable(c->objectName()));
        QVERIFY2(c->geometry().left() >= 0 && c->geometry().right() < 423, qPrintable(c->objectName()));
    }
    for (QWidget* c : w.GroupBox1->findChildren<QWidget*>())
        QVERIFY2(w.GroupBox1->rect().contains(c->geometry()), qPrintable(c->objectName()));

    QVERIFY(w.trayMenu());
    QCOMPARE(w.trayMenu()->actions().size(), 1);
    QCOMPARE(w.trayMenu()->actions().first()->text(), QStringLiteral("Avsluta"));
    QVERIFY(!w.trayIcon()->icon().isNull());
    // The program's own icon, not the style's stand-in: the compiled-in
    // resources made it into the program.
    QVERIFY(QFile::exists(QStringLiteral(":/quvo/icons/quvo-hwclient.png")));
    QVERIFY(!w.quitRequested());
}

void DesktopTest::restoredDeviceSettingsShown()
{
    Desk desk;
    desk.preset(kDeviceSection, QStringLiteral("TellStickDevicename"), QStringLiteral("Lampa"));
    desk.preset(kDeviceSection, QStringLiteral("TellStickAktivateMode"), QStringLiteral("1"));
    desk.preset(kDeviceSection, QStringLiteral("TellStickAktivateTimer"), QStringLiteral("7000"));
    desk.preset(kDeviceSection, QStringLiteral("TellStickIntervalTimer"), QStringLiteral("800"));
    desk.preset(kDeviceSection, QStringLiteral("TellStickDoIntervall"), QStringLiteral("-1"));
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;

    QCOMPARE(w.Edit1->text(), QStringLiteral("Lampa"));
    QVERIFY(w.RadioButton1->isChecked());
    QVERIFY(!w.RadioButton2->isChecked());
    QCOMPARE(w.SpinEdit1->value(), 7);
    QCOMPARE(w.SpinEdit2->value(), 800);
    QVERIFY(w.CheckBox1->isChecked());
    QCOMPARE(desk.client->parts().activation.activationIntervalMs(), 7000);
    // Showing the restored values writes nothing back but the mode.
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickAktivateTimer")), QStringLiteral("7000"));
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickAktivateMode")), QStringLiteral("1"));
}

void DesktopTest::deviceControlsWriteAtOnce()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    w.show();

    QTest::keyClicks(w.Edit1, QStringLiteral("Lampa"));
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickDevicename")), QStringLiteral("Lampa"));
    QCOMPARE(desk.client->parts().device.deviceName(), QStringLiteral("Lampa"));

    QTest::mouseClick(w.RadioButton1, Qt::LeftButton);
    QVERIFY(desk.client->parts().activation.secondsMode());
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickAktivateMode")), QStringLiteral("1"));
    QCOMPARE(desk.client->parts().activation.activationIntervalMs(), 2000);

    w.SpinEdit1->setValue(12);
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickAktivateTimer")), QStringLiteral("12000"));
    QCOMPARE(desk.client->parts().activation.activationIntervalMs(), 12000);

    QTest::mouseClick(w.RadioButton2, Qt::LeftButton);
    QVERIFY(!desk.client->parts().activation.secondsMode());
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickAktivateMode")), QStringLiteral("2"));
    QCOMPARE(desk.client->parts().activation.activationIntervalMs(), Activation::kUntilConfirmedMs);

    w.SpinEdit2->setValue(1500);
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickIntervalTimer")), QStringLiteral("1500"));
    QCOMPARE(desk.client->parts().activation.blinkIntervalMs(), 1500);

    QTest::mouseClick(w.CheckBox1, Qt::LeftButton);
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickDoIntervall")), QStringLiteral("-1"));
    QTest::mouseClick(w.CheckBox1, Qt::LeftButton);
    QCOMPARE(desk.stored(kDeviceSection, QStringLiteral("TellStickDoIntervall")), QStringLiteral("0"));

#ifdef QUVO_TELLDUS_SIM
    // "Anslut" looks the device up; a double click on the panel switches it.
    // The library answers from its own thread, a moment later.
    QTest::mouseClick(w.BitBtn2, Qt::LeftButton);
    QTRY_COMPARE(w.Panel4->fill(), QColor(0, 128, 0));
    desk.client->parts().device.turnOn();
    desk.client->parts().device.ShowDeviceStatus();
    QTRY_COMPARE(w.Panel4->text(), QStringLiteral("Turned On"));
    QTest::mouseDClick(w.Panel4, Qt::LeftButton);
    QTRY_COMPARE(w.Panel4->text(), QStringLiteral("Turned Off"));

    // An empty name: the message, focus on the field, no device.
    AutoAnswer& answers = *desk.answers;
    answers.messages.clear();
    w.Edit1->clear();
    w.activateWindow();
    QTest::mouseClick(w.BitBtn2, Qt::LeftButton);
    QCOMPARE(answers.messages, QStringList{QStringLiteral("Enhetsnamn måste anges!")});
    QCOMPARE(desk.client->parts().device.TellStickDeviceId(), 0);
    QCOMPARE(w.focusWidget(), w.Edit1);
#endif
}

void DesktopTest::statusFollowsTheCore()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    HardwareClient& core = *desk.client;

    emit core.statusChanged(QStringLiteral("Ej ansluten - försöker ansluta..."));
    QCOMPARE(w.Label1->text(), QStringLiteral("Ej ansluten - försöker ansluta..."));
    QCOMPARE(w.shServerConnected->fill(), QColor(255, 0, 0));
    emit core.statusChanged(QStringLiteral("Ansluten"));
    emit core.indicatorChanged(Indicator::Green);
    QCOMPARE(w.Label1->text(), QStringLiteral("Ansluten"));
    QCOMPARE(w.shServerConnected->fill(), QColor(0, 128, 0));
    QVERIFY(w.trayIcon()->toolTip().contains(QStringLiteral("Ansluten")));
    emit core.indicatorChanged(Indicator::Red);
    QCOMPARE(w.shServerConnected->fill(), QColor(255, 0, 0));

    emit core.deviceStatusChanged(QStringLiteral("Turned On"), Indicator::Green);
    QCOMPARE(w.Panel4->text(), QStringLiteral("Turned On"));
    QCOMPARE(w.Panel4->fill(), QColor(0, 128, 0));
    QCOMPARE(w.Panel4->grab().toImage().pixelColor(w.Panel4->width() / 2, 5), QColor(0, 128, 0));

    emit core.windowTitleChanged(QStringLiteral("QUVO Windows Hårdvaruklient för TellStick - X  version: 1"));
    QCOMPARE(w.windowTitle(), QStringLiteral("QUVO Windows Hårdvaruklient för TellStick - X  version: 1"));

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    emit core.minimizeWanted();
    QTRY_VERIFY(w.isMinimized());
}

void DesktopTest::connectionLifeAgainstServer()
{
#ifndef QUVO_SERVER_SIM
    QSKIP("server simulator not built");
#else
    Sim sim;
    QVERIFY2(sim.start(), sim.output.constData());
    sim.send("assign TESTHW 1");

    Desk desk;
    desk.presetServer(sim.port);
    desk.preset(QStringLiteral("QUVO"), QStringLiteral("ClientNameUseDefault"), QStringLiteral("0"));
    desk.preset(QStringLiteral("QUVO"), QStringLiteral("ClientName"), QStringLiteral("TESTHW"));
    desk.preset(kDeviceSection, QStringLiteral("TellStickDevicename"), QStringLiteral("Lampa"));
    desk.create();
    AutoAnswer& answers = *desk.answers;
    TfrmQuvoHWMain& w = *desk.window;
    // Loss notice after 1.2 s; a retry 2 s after a loss.
    desk.client->parts().connection.setSupervisionSecondMs(20);
    desk.client->parts().connection.setRandomSource([] { return 0; });
    desk.client->parts().connection.setCountdownTickMs(500);
    QCOMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::NotConnected);
    w.show();

    // First show: the dialog exists, the connection and the device lookup start.
    QTRY_VERIFY(w.firstActivationDone());
    QVERIFY(w.settingsDialog());
    QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), QStringLiteral("Ansluten"), 5000);
    QCOMPARE(w.shServerConnected->fill(), QColor(0, 128, 0));
    QTRY_VERIFY_WITH_TIMEOUT(w.windowTitle().contains(kClinic), 5000);
    QTRY_COMPARE(w.Panel4->fill(), QColor(0, 128, 0)); // the library answers from its own thread
    QCOMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::Connected);
    QVERIFY(w.trayIcon()->toolTip().endsWith(QStringLiteral("\nAnsluten")));
    const qint64 connectedIcon = w.trayIcon()->icon().cacheKey();

    // A receiver that cannot be found is a fault the tray shows.
    w.Edit1->setText(QStringLiteral("Finns inte"));
    QTest::mouseClick(w.BitBtn2, Qt::LeftButton);
    QTRY_COMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::ReceiverFault);
    QVERIFY(w.trayIcon()->toolTip().endsWith(QStringLiteral("\nAnsluten\nMottagaren: Ej ansluten")));
    QVERIFY(w.trayIcon()->icon().cacheKey() != connectedIcon);
    w.Edit1->setText(QStringLiteral("Lampa"));
    QTest::mouseClick(w.BitBtn2, Qt::LeftButton);
    QTRY_COMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::Connected);

    // So is a switch the transmitter refuses, until one goes through.
    QFile control(qEnvironmentVariable("TELLDUS_SIM_CONTROL"));
    QVERIFY(control.open(QIODevice::WriteOnly));
    control.write("FAIL=notfound\n");
    control.close();
    sim.send("call 1 Anna");
    QTRY_COMPARE_WITH_TIMEOUT(w.trayState(), TfrmQuvoHWMain::TrayState::ReceiverFault, 5000);
    QVERIFY(w.trayIcon()->toolTip().contains(QStringLiteral("\nMottagaren: Fel: ")));
    control.remove();
    QTRY_COMPARE_WITH_TIMEOUT(w.Panel4->text(), QStringLiteral("Turned On"), 5000);
    QCOMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::Connected);
    QVERIFY(desk.client->parts().activation.active());
    sim.send("confirm 1 Bo");
    QTRY_COMPARE_WITH_TIMEOUT(w.Panel4->text(), QStringLiteral("Turned Off"), 5000);

    // Suspend closes the connection; resume reopens it after the delay.
    DesktopSession session(*desk.client, QDBusConnection(QString()), QDBusConnection(QString()));
    QVERIFY(!session.watchSleep());
    session.setResumeDelayMs(200);
    session.PrepareForSleep(true);
    QVERIFY(!desk.client->parts().connection.isActive());
    QVERIFY(w.Label1->text() != QStringLiteral("Ansluten"));
    session.PrepareForSleep(false);
    QVERIFY(session.resumePending());
    QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), QStringLiteral("Ansluten"), 5000);

    sim.send("drop");
    QTRY_VERIFY_WITH_TIMEOUT(w.Label1->text().startsWith(QStringLiteral("Ej ansluten - nästa försök om ")), 5000);
    QCOMPARE(w.shServerConnected->fill(), QColor(255, 0, 0));
    QVERIFY(w.Label1->text().endsWith(QStringLiteral(" sekunder")));
    QCOMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::NotConnected);
    QVERIFY(w.trayIcon()->toolTip().contains(QStringLiteral("\nEj ansluten - nästa försök om ")));

    // A long loss and the way back are told in the tray.
    sim.send("mute on");
    QTRY_COMPARE_WITH_TIMEOUT(w.lastTrayNotice(), QStringLiteral("Ingen anslutning till servern på mer än 60 sekunder."), 5000);
    sim.send("mute off");
    QTRY_COMPARE_WITH_TIMEOUT(w.lastTrayNotice(), QStringLiteral("Ansluten till servern igen."), 10000);
    QCOMPARE(w.trayState(), TfrmQuvoHWMain::TrayState::Connected);
    QVERIFY2(answers.messages.isEmpty(), qPrintable(answers.messages.join(QLatin1Char('|'))));
#endif
}

void DesktopTest::screenSaverSettingReadAtEveryCheck()
{
#ifndef QUVO_SERVER_SIM
    QSKIP("server simulator not built");
#else
    Sim sim;
    QVERIFY2(sim.start(), sim.output.constData());
    Desk desk;
    desk.presetServer(sim.port);
    desk.create();
    desk.window->show();
    QTRY_COMPARE_WITH_TIMEOUT(desk.window->Label1->text(), QStringLiteral("Ansluten"), 5000);

    // Kept on the server only: written while connected, then blanked in the files.
    desk.client->settings().WriteSetting(QStringLiteral("QUVO"), QStringLiteral("PreventScreenSaver"), QStringLiteral("-1"));
    desk.preset(QStringLiteral("QUVO"), QStringLiteral("PreventScreenSaver"), QStringLiteral(" "));
    DesktopSession session(*desk.client, QDBusConnection(QString()), QDBusConnection(QString()));
    session.watchScreenSaverSetting(50);
    QVERIFY(session.screenSaverRefused());
    // Changed while running: the next check lets the screen saver start again.
    desk.preset(QStringLiteral("QUVO"), QStringLiteral("PreventScreenSaver"), QStringLiteral("0"));
    QTRY_VERIFY(!session.screenSaverRefused());
#endif
}

void DesktopTest::closingHidesOrMinimises()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QVERIFY(!w.close());               // the close box
    QVERIFY(!w.isVisible());
    QVERIFY(!desk.client->quitting());

    w.show();
    QTest::mouseClick(w.Button7, Qt::LeftButton);   // "&Stäng"
    QVERIFY(!w.isVisible());
    QVERIFY(!desk.client->quitting());

    // Without a notification area the window could not come back from hiding.
    desk.trayAvailable = false;
    w.show();
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QTRY_VERIFY(w.isMinimized());
    QVERIFY(!desk.client->quitting());
}

void DesktopTest::trayDoubleClickBringsWindowBack()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.close();
    QVERIFY(!w.isVisible());
    w.TrayIcon1DblClick();
    QVERIFY(w.isVisible());
    QVERIFY(!w.isMinimized());

    w.showMinimized();
    QTRY_VERIFY(w.isMinimized());
    w.TrayIcon1DblClick();
    QTRY_VERIFY(!w.isMinimized());
    QVERIFY(w.isVisible());

    // The optional foreground helper in the current directory gets the handle.
    QTemporaryDir cwd;
    const QString hook = cwd.filePath(QStringLiteral("libQV_HookKeyboard.so"));
    QVERIFY(QFile::copy(QStringLiteral(QUVO_HOOK_LIBRARY), hook));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cwd.path()));
    w.close();
    w.TrayIcon1DblClick();
    QDir::setCurrent(previous);
    QLibrary lib(hook);
    auto lastHandle = reinterpret_cast<intptr_t (*)()>(lib.resolve("hookLastHandle"));
    auto calls = reinterpret_cast<int (*)()>(lib.resolve("hookCalls"));
    QVERIFY(lastHandle && calls);
    QCOMPARE(calls(), 1);
    QCOMPARE(quintptr(lastHandle()), quintptr(w.winId()));
    // Without the file nothing is called.
    w.TrayIcon1DblClick();
    QCOMPARE(calls(), 1);
}

void DesktopTest::f10OpensServerSettings()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    AutoAnswer& answers = *desk.answers;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.settingsDialog());

    // The refused connection's question must have come and gone, or it takes a key.
    QTRY_VERIFY(!answers.messages.isEmpty());
    // Keys reach the active window; each box and dialog took that from it, and
    // here no window manager gives it back.
    auto press = [&](QWidget* control, Qt::Key key) {
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        control->setFocus();
        QTest::keyClick(control, key);
    };
    answers.dialogPages.clear();
    press(w.SpinEdit2, Qt::Key_F10);
    QTRY_COMPARE(answers.dialogPages.size(), 1);
    QCOMPARE(answers.dialogPages.first(), SettingsPage::ServerSettings);

    press(w.Edit1, Qt::Key_F10);
    QTRY_COMPARE(answers.dialogPages.size(), 2);

    QTest::mouseClick(w.BitBtn1, Qt::LeftButton);
    QTRY_COMPARE(answers.dialogPages.size(), 3);
    QCOMPARE(answers.dialogPages.last(), SettingsPage::ServerSettings);
    // Other keys open nothing.
    press(w.Edit1, Qt::Key_F9);
    QTest::qWait(50);
    QCOMPARE(answers.dialogPages.size(), 3);
}

void DesktopTest::messageDialogs()
{
    Desk desk;
    desk.autoAnswer = false;
    desk.create();
    UserInterface& ui = desk.ui;

    QString title, text, buttons, defaultText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString click;
    ModalWatcher watcher([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        QStringList names;
        for (QAbstractButton* b : box->buttons())
            names << b->text();
        names.sort();
        buttons = names.join(QLatin1Char(','));
        defaultText = box->defaultButton() ? box->defaultButton()->text() : QString();
        if (click == QLatin1String("escape")) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        if (click == QLatin1String("parent")) {
            delete box->parentWidget();
            return;
        }
        if (click == QLatin1String("enter")) {
            QTest::keyClick(box, Qt::Key_Return);
            return;
        }
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == click)
                b->click();
        }
    });

    click = QStringLiteral("enter");
    ui.showInfo(QStringLiteral("Rad ett\r\rRad två"));
    QCOMPARE(title, QStringLiteral("Information"));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(buttons, QStringLiteral("OK"));
    QCOMPARE(defaultText, QStringLiteral("OK"));
    QCOMPARE(text, QStringLiteral("Rad ett\n\nRad två"));

    click = QStringLiteral("enter");
    QVERIFY(ui.askYesNo(QStringLiteral("Vill du?")));   // "Ja" is the default
    QCOMPARE(title, QStringLiteral("Fråga"));
    QCOMPARE(icon, QMessageBox::Question);
    QCOMPARE(buttons, QStringLiteral("Ja,Nej"));
    QCOMPARE(defaultText, QStringLiteral("Ja"));
    click = QStringLiteral("Nej");
    QVERIFY(!ui.askYesNo(QStringLiteral("Vill du?")));
    click = QStringLiteral("Ja");
    QVERIFY(ui.askYesNo(QStringLiteral("Vill du?")));
    click = QStringLiteral("escape");
    QVERIFY(!ui.askYesNo(QStringLiteral("Vill du?")));
    // A parent that goes while its box waits takes the box along: no answer, no crash.
    click = QStringLiteral("parent");
    QVERIFY(!askYesNoDialog(QStringLiteral("Vill du?"), new QWidget));
    showInfoDialog(QStringLiteral("i"), new QWidget);

    click = QStringLiteral("enter");
    showWarningDialog(QStringLiteral("w"));
    QCOMPARE(title, QStringLiteral("Varning"));
    showErrorDialog(QStringLiteral("e"));
    QCOMPARE(title, QStringLiteral("Fel"));
    QCOMPARE(icon, QMessageBox::Critical);
}

void DesktopTest::swedishStandardButtons()
{
    // The toolkit's own boxes, built with standard buttons, speak Swedish too.
    QStringList seen;
    ModalWatcher watcher([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return;
        for (QAbstractButton* b : box->buttons())
            seen << b->text().remove(QLatin1Char('&'));
        box->reject();
    });
    QMessageBox::question(nullptr, QStringLiteral("t"), QStringLiteral("q"),
                          QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::Ok);
    seen.sort();
    QCOMPARE(seen, (QStringList{QStringLiteral("Avbryt"), QStringLiteral("Ja"), QStringLiteral("Nej"), QStringLiteral("OK")}));
}

void DesktopTest::balloonPointsAtControl()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    desk.client->parts().ui.showBalloon(QStringLiteral("Fel"), QStringLiteral("Ange ett namn"), 1, 300,
                                  BalloonTarget{QStringLiteral("Edit1"), QPoint()});
    QWidget* balloon = balloonWidget();
    QVERIFY(balloon);
    QVERIFY(balloon->isVisible());
    QStringList texts;
    for (QLabel* l : balloon->findChildren<QLabel*>())
        texts << l->text();
    QVERIFY(texts.contains(QStringLiteral("Fel")));
    QVERIFY(texts.contains(QStringLiteral("Ange ett namn")));
    // Its pointer touches the lower middle of the control.
    const QPoint tip = w.Edit1->mapToGlobal(QPoint(w.Edit1->width() / 2, w.Edit1->height()));
    QVERIFY2(balloon->geometry().top() == tip.y(), qPrintable(QStringLiteral("%1 %2 %3x%4").arg(balloon->geometry().top()).arg(tip.y()).arg(balloon->width()).arg(balloon->height())));
    QVERIFY(balloon->geometry().left() <= tip.x() && balloon->geometry().right() >= tip.x());
    QTRY_VERIFY_WITH_TIMEOUT(!balloon->isVisible(), 2000);

    // A screen point, and the information form.
    ShowInfoBalloon(QStringLiteral("Du måste starta om programmet för att temat skall ändras."), QPoint(200, 150));
    QVERIFY(balloon->isVisible());
    QCOMPARE(balloon->geometry().top(), 150);
    texts.clear();
    for (QLabel* l : balloon->findChildren<QLabel*>())
        texts << l->text();
    QVERIFY(texts.contains(QStringLiteral("Information")));
    balloon->hide();
}

void DesktopTest::themesByName()
{
    const QStringList names = availableStyleNames();
    QCOMPARE(names.size(), 37);
    QCOMPARE(names.first(), QStringLiteral("Windows"));
    const QStringList expected{
        "Amakrits", "Amethyst Kamri", "Aqua Graphite", "Aqua Light Slate", "Auric", "Carbon",
        "Charcoal Dark Slate", "Cobalt XEMedia", "Cyan Dusk", "Cyan Night", "Emerald Light Slate", "Glossy",
        "Glow", "Golden Graphite", "Iceberg Classico", "Lavender Classico", "Light", "Luna",
        "Metropolis UI Black", "Metropolis UI Blue", "Metropolis UI Dark", "Metropolis UI Green", "Obsidian",
        "Onyx Blue", "Ruby Graphite", "Sapphire Kamri", "Silver", "Sky", "Slate Classico",
        "Smokey Quartz Kamri", "TabletDark", "Tablet Light", "Turquoise Gray", "Windows10 Blue",
        "Windows10 Dark", "Windows10"};
    QStringList carried = names.mid(1);
    QStringList sortedExpected = expected;
    carried.sort();
    sortedExpected.sort();
    QCOMPARE(carried, sortedExpected);

    const QString startStyle = QApplication::style()->name();
    const QPalette startPalette = QApplication::palette();
    QCOMPARE(currentStyleName(), QStringLiteral("Windows"));

    QSet<QString> looks;
    for (const QString& name : expected) {
        QVERIFY2(applyStyle(name), qPrintable(name));
        QCOMPARE(currentStyleName(), name);
        const QPalette p = QApplication::palette();
        QVERIFY2(contrast(p.color(QPalette::WindowText), p.color(QPalette::Window)) >= 4.5, qPrintable(name));
        QVERIFY2(contrast(p.color(QPalette::Text), p.color(QPalette::Base)) >= 4.5, qPrintable(name));
        QVERIFY2(contrast(p.color(QPalette::ButtonText), p.color(QPalette::Button)) >= 4.5, qPrintable(name));
        QVERIFY2(contrast(p.color(QPalette::HighlightedText), p.color(QPalette::Highlight)) >= 4.5, qPrintable(name));
        looks.insert(p.color(QPalette::Window).name() + p.color(QPalette::Highlight).name()
                     + p.color(QPalette::Button).name());
    }
    QCOMPARE(looks.size(), expected.size());   // each one distinct

    // A near miss changes nothing.
    applyStyle(QStringLiteral("Luna"));
    const QPalette luna = QApplication::palette();
    QVERIFY(!applyStyle(QStringLiteral("Windows10 ")));
    QVERIFY(!applyStyle(QStringLiteral("ERROR")));
    QVERIFY(!applyStyle(QString()));
    QCOMPARE(currentStyleName(), QStringLiteral("Luna"));
    QCOMPARE(QApplication::palette(), luna);

    // "Windows" is the look the program started with.
    QVERIFY(applyStyle(QStringLiteral("Windows")));
    QCOMPARE(QApplication::style()->name(), startStyle);
    QCOMPARE(QApplication::palette().color(QPalette::Window), startPalette.color(QPalette::Window));
    QVERIFY(qApp->styleSheet().isEmpty());

    // The status colours survive a dark theme.
    applyStyle(QStringLiteral("Carbon"));
    Desk desk;
    desk.create();
    emit desk.client->deviceStatusChanged(QStringLiteral("Turned On"), Indicator::Green);
    const QImage panel = desk.window->Panel4->grab().toImage();
    QCOMPARE(panel.pixelColor(panel.width() / 2, 5), QColor(0, 128, 0));
    applyStyle(QStringLiteral("Windows"));
}

// In every theme a person tells a checked box or option from an unchecked one,
// and reads every caption, in the window and on both pages of the dialog.
void DesktopTest::everyThemeReadable()
{
#ifndef QUVO_SERVER_SIM
    QSKIP("server simulator not built");
#else
    Sim sim;
    QVERIFY2(sim.start(), sim.output.constData());
    Desk desk;
    desk.autoAnswer = false;   // the dialog stays open beside the window
    desk.presetServer(sim.port);
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    w.show();
    QTRY_COMPARE_WITH_TIMEOUT(w.Label1->text(), QStringLiteral("Ansluten"), 5000);
    TfrmSystreg* dialog = w.settingsDialog();
    QVERIFY(dialog);
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));

    const QString screens = qEnvironmentVariable("QUVO_SCREENS");
    QStringList faults;
    for (const QString& theme : availableStyleNames()) {
        QVERIFY(applyStyle(theme));
        for (const char* view : {"main", "server", "client"}) {
            QWidget* window = &w;
            if (qstrcmp(view, "main") != 0) {
                dialog->SetTabs(qstrcmp(view, "server") == 0 ? SettingsPage::ServerSettings : SettingsPage::ClientSettings);
                window = dialog;
            }
            QCoreApplication::processEvents();
            if (!screens.isEmpty())
                window->grab().save(QStringLiteral("%1/%2-%3.png").arg(screens, theme, QLatin1String(view)));
            const QImage picture = renderedLarge(window);
            const auto captions = captionsOf(window);
            QVERIFY(captions.size() >= 5);
            for (const auto& [name, area] : captions) {
                if (test::strongestContrast(picture, scaledArea(area)) < 4.5)
                    faults << QStringLiteral("%1 %2: %3").arg(theme, QLatin1String(view), name);
            }
            for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
                if (b->window() != window || !b->isVisibleTo(window)
                    || !(qobject_cast<QCheckBox*>(b) || qobject_cast<QRadioButton*>(b)))
                    continue;
                const QRect indicator = scaledArea(indicatorArea(b));
                const bool wasChecked = b->isChecked();
                const QImage before = renderedLarge(b);
                b->setAutoExclusive(false);
                b->setChecked(!wasChecked);
                const QImage after = renderedLarge(b);
                b->setChecked(wasChecked);
                b->setAutoExclusive(qobject_cast<QRadioButton*>(b) != nullptr);
                int mark = 0;
                for (int y = indicator.top(); y <= indicator.bottom(); ++y)
                    for (int x = indicator.left(); x <= indicator.right(); ++x)
                        if (contrast(before.pixelColor(x, y), after.pixelColor(x, y)) >= 3.0)
                            ++mark;
                // At least a mark of two by two pixels.
                if (mark < 4 * kPixelScale * kPixelScale)
                    faults << QStringLiteral("%1 %2: %3 checked looks unchecked").arg(theme, QLatin1String(view), b->objectName());
            }
        }
    }
    applyStyle(QStringLiteral("Windows"));
    dialog->hide();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
#endif
}

void DesktopTest::signalsReachEventLoop()
{
    QObject context;
    int calls = 0;
    QVERIFY(installQuitSignals(&context, [&calls] { ++calls; }));
    ::raise(SIGTERM);
    QTRY_COMPARE(calls, 1);
    ::raise(SIGINT);
    QTRY_COMPARE(calls, 2);
}

// A server's error text of a megabyte: its box shows the beginning, and a
// call list half a second later switches the receiver on at once.
void DesktopTest::longServerErrorHoldsNoCallUp()
{
#ifndef QUVO_TELLDUS_SIM
    QSKIP("Telldus simulator not built");
#else
    test::FakeServer server;
    server.onFrame = [&server](const QByteArray& f) {
        if (f.startsWith("\xA4GETSERVERVERSION:"))
            server.send(test::frame("RETSERVERVERSION", "1.10.4"));
        else if (f.startsWith("\xA4GETINITEXT:"))
            server.send(test::frame("RETINITEXT", ""));
    };
    Desk desk;
    desk.autoAnswer = false;
    desk.preset(QStringLiteral("ServerSettings"), QStringLiteral("ServerName"), QStringLiteral("127.0.0.1"));
    desk.preset(QStringLiteral("ServerSettings"), QStringLiteral("ServerPort"), QString::number(server.port()));
    desk.preset(kDeviceSection, QStringLiteral("TellStickDevicename"), QStringLiteral("Lampa"));
    desk.create();
    desk.client->parts().state.UpdateCheckPending = false; // one connection to this server
    desk.window->show();
    QVERIFY(server.waitForTagCount(QStringLiteral("GETKLINIKNAMN"), 1, 10000));
    QTRY_COMPARE(desk.client->parts().device.TellStickDeviceId(), 1);

    QFile log(qEnvironmentVariable("TELLDUS_SIM_LOG"));
    const qint64 logBefore = log.size();
    auto switchedOnAt = [&]() -> qint64 {
        if (!log.open(QIODevice::ReadOnly))
            return 0;
        log.seek(logBefore);
        const QList<QByteArray> lines = log.readAll().split('\n');
        log.close();
        for (const QByteArray& line : lines)
            if (line.contains(" ON "))
                return line.left(line.indexOf(' ')).toLongLong();
        return 0;
    };
    QString shown;
    ModalWatcher watcher([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box)
            return;
        shown = box->text();
        if (switchedOnAt() > 0)
            box->escapeButton()->click();
    });
    // The whole text goes to the program's log.
    static qsizetype logged = 0;
    logged = 0;
    const QtMessageHandler before = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
        if (m.contains(QStringLiteral("INFO (hela texten): Servern svarade med följande fel: ")))
            logged = m.size();
    });
    const auto restore = qScopeGuard([before] { qInstallMessageHandler(before); });
    qint64 listSentAt = 0;
    QByteArray words;
    while (words.size() < 1024 * 1024)
        words += "Databasen svarar inte ";
    server.send("ERROR: " + words);
    QTimer::singleShot(500, &server, [&] {
        server.send(test::frame("CURRENTLIST", "L\xE4kare:1:255:0:\xA4%Reception~7~2026-12-09 10:00:00~255~0~~~%\xA4"));
        listSentAt = QDateTime::currentMSecsSinceEpoch();
    });
    QTRY_VERIFY_WITH_TIMEOUT(switchedOnAt() > 0 && shown.isEmpty() == false, 30000);
    const qint64 lateMs = switchedOnAt() - listSentAt;
    QVERIFY2(listSentAt > 0 && lateMs < 1000, qPrintable(QStringLiteral("%1 ms").arg(lateMs)));
    QVERIFY(shown.startsWith(QStringLiteral("Servern svarade med följande fel: Databasen svarar inte")));
    QCOMPARE(shown.size(), 2000);
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(logged > 1024 * 1024);
#endif
}

void DesktopTest::sigtermDuringMessageEndsWithCodeOne()
{
    // The whole desktop program in a child: no server configured, so it sits
    // in the first information box when SIGTERM arrives.
    QTemporaryDir home;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("c")));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), home.filePath(QStringLiteral("x")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("d")));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home.path());
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--run-desktop")});
    QVERIFY(child.waitForStarted(5000));
    QTest::qWait(1500);
    QCOMPARE(child.state(), QProcess::Running);
    ::kill(pid_t(child.processId()), SIGTERM);
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);
}

void DesktopTest::avslutaQuitsWithCodeOne()
{
    Desk desk;
    desk.create();
    TfrmQuvoHWMain& w = *desk.window;
    w.show();
    QTRY_VERIFY(w.settingsDialog());
    QPointer<TfrmSystreg> dialog = w.settingsDialog();

    QEventLoop loop;
    QTimer::singleShot(0, w.Avsluta1, &QAction::trigger);
    const int code = loop.exec();
    QCOMPARE(code, 1);
    QVERIFY(w.quitRequested());
    QVERIFY(desk.client->quitting());
    QVERIFY(!w.isVisible());
    QVERIFY(!w.trayIcon()->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--run-desktop") == 0)
        return quvo::runDesktop(argc - 1, argv + 1);
    QApplication app(argc, argv);
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
