#include "DeviceTestRig.h"
#include "device/TelldusLibrary.h"

#include <QSignalSpy>
#include <QTest>

#include <thread>

using quvo::Activation;
using quvo::Indicator;
using quvo::SettingsStore;
using quvo::TelldusLibrary;

namespace {

const QString kSection = QStringLiteral("QUVO_HWClient");

// Commands for one device in the order sent, as "ON"/"OFF".
QStringList commandsFor(const QVector<SentCommand>& sent, int id)
{
    QStringList out;
    for (const SentCommand& c : sent)
        if (c.id == id)
            out << (c.on ? QStringLiteral("ON") : QStringLiteral("OFF"));
    return out;
}

} // namespace

class TestDevice : public QObject {
    Q_OBJECT
private slots:
    // Lookup
    void lookupIgnoresCase();
    void lookupTrimsLibraryNamesButNotTheField();
    void lookupTakesFirstMatchAndSkipsInvalidIds();
    void lookupDecodesUtf8Names();
    void lookupWithEmptyNameDeselectsAndKeepsPanel();
    void lookupShowsLastCommandFromEarlierRun();
    void nameFieldIsStoredAndTakesEffectAtNextLookup();
    void onlyPrintableNamesStartTheFirstLookup();
    void simulatorRemembersWithoutLog();
    void simulatorAnswersAsTheRealLibrary();

    // Library loading
    void missingLibraryIsToldOnce();
    void libraryWithoutTheFunctionsIsNotUsed();
    void defaultLibraryNamesAreTried();

    // Manual switch
    void doubleClickTogglesFromLastCommand();

    // Activation
    void activationWithoutDeviceDoesNothing();
    void activationRunsForTheSetSeconds();
    void stopSendsOffEvenWhenIdle();
    void untilConfirmedLastsUntilStopped();
    void blinkingAlternatesAndEndsOff();
    void blinkBoxCountsOnlyAtTheStart();
    void modeSwitchRestartsTheCountdown();
    void secondsChangeOnlyRestartsInSecondsMode();
    void closingLeavesTheDeviceAsItIs();
    void lookupDuringActivationRedirectsIt();
    void manualSwitchDuringBlinkingKeepsThePhase();

    // Failures of the library
    void failedSwitchIsShownRetriedAndCleared();
    void deviceFoundLateSwitchesTheWaitingCallOn();
    void everyCommandIsRepeatedAsSet();
    void receiversOnOneWorkerKeepTheirLookupsAndRepeats();
    void busyLibraryThreadRestartsTheLibrary();

    // The decided state reaches the receiver
    void decisionSurvivesLookupAndQuit();
    void failedAndMissedCommandsAreSentAgain();
    void panelFollowsBlinkingWithRepeats();

    // Settings
    void restoreUsesDefaults();
    void restoreReadsStoredValuesIntoRange();
    void handlersWriteTheirSettings();
};

void TestDevice::lookupIgnoresCase()
{
    DeviceTestRig rig("1:Lampa,2:Summer i hallen");
    for (const QString& typed : {QStringLiteral("lampa"), QStringLiteral("LAMPA"), QStringLiteral("LaMpA")}) {
        QVERIFY2(rig.connectTo(typed), qPrintable(typed));
        QCOMPARE(rig.device->TellStickDeviceId(), 1);
    }
    QVERIFY(rig.connectTo(QStringLiteral("summer i HALLEN")));
    QCOMPARE(rig.device->TellStickDeviceId(), 2);
    QVERIFY(rig.device->panelGreen());
    // Never switched: the library says off.
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));
    QCOMPARE(rig.device->panelTag(), 2);
    QCOMPARE(rig.ui.deviceStatus.last().first, QStringLiteral("Turned Off"));
    QCOMPARE(rig.ui.deviceStatus.last().second, Indicator::Green);
    QVERIFY(!rig.device->receiverFault());
    QVERIFY(rig.ui.infos.isEmpty());
}

void TestDevice::lookupTrimsLibraryNamesButNotTheField()
{
    DeviceTestRig rig("2:\tLampa  \t,3:Summer");
    QVERIFY(rig.connectTo(QStringLiteral("lampa")));
    QCOMPARE(rig.device->TellStickDeviceId(), 2);

    QVERIFY(!rig.connectTo(QStringLiteral("Summer ")));
    QCOMPARE(rig.device->TellStickDeviceId(), 0);
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Ej ansluten"));
    QVERIFY(!rig.device->panelGreen());
    QCOMPARE(rig.ui.deviceStatus.last().first, QStringLiteral("Ej ansluten"));
    QCOMPARE(rig.ui.deviceStatus.last().second, Indicator::Red);

    // A single blank is a name, not an empty field: no message, just not found.
    QVERIFY(!rig.connectTo(QStringLiteral(" ")));
    QVERIFY(rig.ui.infos.isEmpty());
}

void TestDevice::lookupTakesFirstMatchAndSkipsInvalidIds()
{
    DeviceTestRig rig("-1:Lampa,-7:Lampa,0:Lampa,5:Lampa,4:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(rig.device->TellStickDeviceId(), 5);

    DeviceTestRig none("-1:Lampa");
    QVERIFY(!none.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(none.device->TellStickDeviceId(), 0);

    DeviceTestRig empty("");
    QVERIFY(!empty.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(empty.device->panelCaption(), QStringLiteral("Ej ansluten"));
}

void TestDevice::lookupDecodesUtf8Names()
{
    // The library hands names out as UTF-8, whatever the locale.
    DeviceTestRig rig("7:Lampa i köket,8:Åskvarnare,9:Kök");
    QVERIFY(rig.connectTo(QStringLiteral("kök")));
    QCOMPARE(rig.device->TellStickDeviceId(), 9);
    QVERIFY(rig.connectTo(QStringLiteral("LAMPA I KÖKET")));
    QCOMPARE(rig.device->TellStickDeviceId(), 7);
    QVERIFY(rig.connectTo(QStringLiteral("åskvarnare")));
    QCOMPARE(rig.device->TellStickDeviceId(), 8);
}

void TestDevice::lookupWithEmptyNameDeselectsAndKeepsPanel()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    const int published = rig.ui.deviceStatus.size();
    QSignalSpy focus(rig.device.get(), &quvo::DeviceController::focusNameField);

    QVERIFY(!rig.connectTo(QString()));
    QCOMPARE(rig.ui.infos, QStringList{QStringLiteral("Enhetsnamn måste anges!")});
    QCOMPARE(focus.count(), 1);
    QCOMPARE(rig.device->TellStickDeviceId(), 0);
    QVERIFY(rig.device->panelGreen());
    QCOMPARE(rig.ui.deviceStatus.size(), published);

    // Calls now switch nothing.
    rig.activation->StartActivation();
    rig.device->Panel4DblClick();
    QVERIFY(rig.sent().isEmpty());
}

void TestDevice::lookupShowsLastCommandFromEarlierRun()
{
    DeviceTestRig rig("1:Lampa,2:Summer");
    rig.appendToLog("1000 ON 1\n1001 ON 2\n1002 OFF 2\n");
    QVERIFY(rig.connectTo(QStringLiteral("lampa")));
    QCOMPARE(rig.device->panelTag(), 1);
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));
    QVERIFY(rig.connectTo(QStringLiteral("summer")));
    QCOMPARE(rig.device->panelTag(), 2);
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));
    QCOMPARE(rig.ui.deviceStatus.last().second, Indicator::Green);
}

void TestDevice::nameFieldIsStoredAndTakesEffectAtNextLookup()
{
    DeviceTestRig rig("1:Lampa,2:Summer");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.device->Edit1Change(QStringLiteral("Summer"));
    rig.device->turnOn();
    QCOMPARE(rig.sent().last().id, 1);
    QCOMPARE(rig.settings.ReadSetting(kSection, QStringLiteral("TellStickDevicename")), QStringLiteral("Summer"));

    // Another start of the program finds the name again.
    SettingsStore again(locationsIn(rig.dir));
    quvo::TelldusWorker telldus;
    quvo::DeviceController restored(telldus, again, rig.ui);
    QSignalSpy spy(&restored, &quvo::DeviceController::nameRestored);
    restored.restoreName();
    QCOMPARE(restored.deviceName(), QStringLiteral("Summer"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(restored.TellStickDeviceId(), 0);
    QCOMPARE(restored.panelCaption(), QStringLiteral("Ej ansluten"));
    QVERIFY(!restored.panelGreen());
    restored.BitBtn2Click();
    settle(telldus);
    QCOMPARE(restored.TellStickDeviceId(), 2);
}

void TestDevice::onlyPrintableNamesStartTheFirstLookup()
{
    DeviceTestRig rig("1:Lampa");
    const struct {
        QString name;
        bool starts;
    } cases[] = {
        {QString(), false},
        {QStringLiteral(" "), false},
        {QStringLiteral(" Lampa"), true},   // ordinal: longer than " "
        {QStringLiteral("\tLampa"), false},
        {QStringLiteral("!"), true},
        {QStringLiteral("Lampa"), true},
        {QStringLiteral("Åskvarnare"), true},
    };
    for (const auto& c : cases) {
        rig.device->Edit1Change(c.name);
        QVERIFY2(rig.device->nameStartsLookup() == c.starts, qPrintable(c.name));
    }
}

void TestDevice::simulatorRemembersWithoutLog()
{
    DeviceTestRig rig("1:Lampa");
    qunsetenv("TELLDUS_SIM_LOG");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.device->turnOn();
    // A new lookup initialises the library again; the last command stays.
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));
    QVERIFY(!QFile::exists(rig.logPath()));
}

// What the vendor's library answers with its service, row by row: the
// program is built against these answers.
void TestDevice::simulatorAnswersAsTheRealLibrary()
{
    QTemporaryDir dir;
    const QString control = dir.filePath(QStringLiteral("control"));
    qputenv("TELLDUS_SIM_DEVICES", "1:Kök,2:Lampa");
    qputenv("TELLDUS_SIM_LOG", dir.filePath(QStringLiteral("log")).toLocal8Bit());
    qputenv("TELLDUS_SIM_CONTROL", control.toLocal8Bit());
    const auto setFault = [&](const QByteArray& line) {
        QFile f(control);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(line);
    };
    TelldusLibrary lib;
    QVERIFY(lib.load(QStringLiteral(TELLDUS_SIM_PATH)));
    lib.init();
    QCOMPARE(lib.name(1).toUtf8(), QByteArray("K\xc3\xb6k"));
    QCOMPARE(lib.name(99), QStringLiteral("UNKNOWN"));
    QCOMPARE(lib.lastSentCommand(1, 3), TelldusLibrary::kTurnOff);
    QCOMPARE(lib.lastSentCommand(99, 3), -3);
    QCOMPARE(lib.turnOn(1), 0);
    QCOMPARE(lib.lastSentCommand(1, 3), TelldusLibrary::kTurnOn);
    QCOMPARE(lib.lastSentCommand(1, TelldusLibrary::kTurnOff), 0);

    setFault("FAIL=notfound\n");
    QCOMPARE(lib.turnOff(1), -1);
    QCOMPARE(lib.lastSentCommand(1, 3), TelldusLibrary::kTurnOn);
    QCOMPARE(lib.errorString(-1), QStringLiteral("TellStick not found"));

    setFault("STALL_MS=30\n");
    QCOMPARE(lib.numberOfDevices(), -6);
    QCOMPARE(lib.lastSentCommand(1, 3), -6);
    QCOMPARE(lib.turnOn(1), -6);
    QCOMPARE(lib.errorString(-6), QStringLiteral("Could not connect to the Telldus Service"));

    QFile::remove(control);
    QCOMPARE(lib.numberOfDevices(), 2);
    lib.close();

    // An older library without the error texts still loads.
    TelldusLibrary older;
    QVERIFY(older.load(QStringLiteral(TELLDUS_SIM_NOERRTEXT_PATH)));
    QVERIFY(!older.hasErrorStrings());
    QCOMPARE(older.errorString(-1), QString());
    older.close();
}

void TestDevice::missingLibraryIsToldOnce()
{
    DeviceTestRig rig("1:Lampa", "/nonexistent/libtelldus-missing.so");
    QVERIFY(!rig.connectTo(QStringLiteral("Lampa")));
    QVERIFY(!rig.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(rig.ui.infos.size(), 1);
    QCOMPARE(rig.ui.infos.first(),
             QStringLiteral("Telldus-biblioteket kunde inte laddas: /nonexistent/libtelldus-missing.so"));
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Ej ansluten"));
    QCOMPARE(rig.ui.deviceStatus.last().second, Indicator::Red);

    QVERIFY(rig.device->receiverFault());

    // Nothing to switch, nothing to crash on.
    rig.device->Panel4DblClick();
    rig.activation->StartActivation();
    rig.activation->StopActivation();
    QVERIFY(rig.sent().isEmpty());
}

void TestDevice::libraryWithoutTheFunctionsIsNotUsed()
{
    DeviceTestRig rig("1:Lampa", "libm.so.6");
    QVERIFY(!rig.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(rig.ui.infos.size(), 1);
    QVERIFY2(rig.ui.infos.first().contains(QStringLiteral("libm.so.6")), qPrintable(rig.ui.infos.first()));
    QVERIFY2(rig.ui.infos.first().contains(QStringLiteral("tdTurnOn")), qPrintable(rig.ui.infos.first()));
}

void TestDevice::defaultLibraryNamesAreTried()
{
    qunsetenv("QUVO_TELLDUS_LIBRARY");
    TelldusLibrary lib;
    if (lib.load())
        QSKIP("a Telldus Core library is installed on this machine");
    QVERIFY(lib.loadAttempted());
    QVERIFY(lib.loadError().contains(QStringLiteral("libtelldus-core.so.2")));
    QVERIFY(lib.loadError().contains(QStringLiteral("libtelldus-core.so,")) ||
            lib.loadError().endsWith(QStringLiteral("libtelldus-core.so")));
}

void TestDevice::doubleClickTogglesFromLastCommand()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(rig.device->panelTag(), 2);

    rig.device->Panel4DblClick();
    QCOMPARE(commandsFor(rig.sent(), 1), QStringList{"ON"});
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));
    QCOMPARE(rig.device->panelTag(), 1);

    rig.device->Panel4DblClick();
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF"}));
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));
    QVERIFY(rig.device->panelGreen());

    // After a failed lookup double clicks do nothing.
    QVERIFY(!rig.connectTo(QStringLiteral("Borta")));
    rig.device->Panel4DblClick();
    QCOMPARE(rig.sent().size(), 2);
}

// Without a device the activation still keeps time, so a device found
// later gets what the calls want then: on within the seconds, off after.
void TestDevice::activationWithoutDeviceDoesNothing()
{
    DeviceTestRig rig("1:Lampa");
    rig.activation->setSecondsMode(true);
    rig.activation->SpinEdit1Change(10);
    rig.activation->StartActivation();
    QVERIFY(rig.activation->active());
    QVERIFY(rig.sent().isEmpty());
    QVERIFY(rig.ui.deviceStatus.isEmpty());

    rig.device->Edit1Change(QStringLiteral("Lampa"));
    rig.step(4000);
    rig.device->BitBtn2Click();
    rig.settle();
    QCOMPARE(commandsFor(rig.sent(), 1), QStringList{"ON"});
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));
    rig.step(6000);
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF"}));
    QCOMPARE(rig.sent().last().ms, 10000);
}

void TestDevice::activationRunsForTheSetSeconds()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->SpinEdit1Change(1);
    rig.activation->setSecondsMode(true);
    QCOMPARE(rig.activation->activationIntervalMs(), 1000);

    rig.activation->StartActivation();
    QVERIFY(rig.activation->active());
    QVERIFY(!rig.activation->blinking());
    rig.settle();
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));

    // A further call neither sends a command nor extends the activation;
    // setting the same seconds again does not restart the countdown either.
    rig.step(500);
    rig.activation->StartActivation();
    rig.activation->SpinEdit1Change(1);
    rig.activation->RadioButton2Click();
    QCOMPARE(rig.sent().size(), 1);

    rig.step(500);
    QVERIFY(!rig.activation->active());
    const auto sent = rig.sent();
    QCOMPARE(commandsFor(sent, 1), (QStringList{"ON", "OFF"}));
    const qint64 length = sent[1].ms - sent[0].ms;
    QVERIFY2(length >= 950 && length < 1450, qPrintable(QString::number(length)));
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));

    // Once ended, the next qualifying list starts a new activation.
    rig.activation->StartActivation();
    QVERIFY(rig.activation->active());
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF", "ON"}));
    rig.activation->StopActivation();
}

void TestDevice::stopSendsOffEvenWhenIdle()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.device->turnOn();
    rig.settle();
    rig.activation->StopActivation();
    rig.settle();
    rig.activation->StopActivation();
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF", "OFF"}));
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));
    QVERIFY(!rig.activation->active());
}

void TestDevice::untilConfirmedLastsUntilStopped()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->SpinEdit1Change(1);
    rig.activation->setSecondsMode(false);
    QCOMPARE(rig.activation->activationIntervalMs(), Activation::kUntilConfirmedMs);

    rig.activation->StartActivation();
    rig.step(1300);
    QVERIFY(rig.activation->active());
    rig.activation->StopActivation();
    QVERIFY(!rig.activation->active());
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF"}));
}

void TestDevice::blinkingAlternatesAndEndsOff()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->SpinEdit1Change(1);
    rig.activation->setSecondsMode(true);
    rig.activation->SpinEdit2Change(100);
    rig.activation->CheckBox1Click(true);

    rig.activation->StartActivation();
    QVERIFY(rig.activation->blinking());
    QCOMPARE(rig.activation->blinkPhase(), 1);
    rig.settle();
    const int published = rig.ui.deviceStatus.size();
    rig.step(100);
    QCOMPARE(rig.activation->blinkPhase(), 2);
    QVERIFY(rig.activation->active());
    rig.step(900);
    QVERIFY(!rig.activation->active());
    QVERIFY(!rig.activation->blinking());

    const auto sent = rig.sent();
    QVERIFY2(sent.size() >= 9 && sent.size() <= 13, qPrintable(QString::number(sent.size())));
    // ON, OFF, ON, ... one phase per interval; whichever timer fires last at
    // the end, the device ends off.
    for (int i = 0; i + 1 < sent.size(); ++i) {
        QCOMPARE(sent[i].on, i % 2 == 0);
        const qint64 gap = sent[i + 1].ms - sent[i].ms;
        if (i + 2 < sent.size())
            QVERIFY2(gap >= 80 && gap <= 350, qPrintable(QStringLiteral("gap %1 at %2").arg(gap).arg(i)));
    }
    QVERIFY(!sent.last().on);
    const qint64 length = sent.last().ms - sent.first().ms;
    QVERIFY2(length >= 950 && length < 1450, qPrintable(QString::number(length)));

    // Blink steps do not refresh the panel; only the end does.
    rig.settle();
    QCOMPARE(rig.ui.deviceStatus.size(), published + 1);
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));
}

void TestDevice::blinkBoxCountsOnlyAtTheStart()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->setSecondsMode(false);
    rig.activation->SpinEdit2Change(100);

    // Checked during a steady activation: no blinking.
    rig.activation->StartActivation();
    rig.activation->CheckBox1Click(true);
    rig.step(350);
    QVERIFY(!rig.activation->blinking());
    rig.activation->StopActivation();
    QCOMPARE(rig.sent().size(), 2);

    // Unchecked during a blinking activation: the blinking goes on.
    rig.activation->StartActivation();
    rig.activation->CheckBox1Click(false);
    rig.step(350);
    QVERIFY(rig.activation->blinking());
    rig.activation->StopActivation();
    const QStringList commands = commandsFor(rig.sent(), 1).mid(2);
    QVERIFY2(commands.size() >= 4, qPrintable(commands.join(' ')));
    QCOMPARE(commands.mid(0, 3), (QStringList{"ON", "OFF", "ON"}));
    QCOMPARE(commands.last(), QStringLiteral("OFF"));
}

void TestDevice::modeSwitchRestartsTheCountdown()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->SpinEdit1Change(1);
    rig.activation->setSecondsMode(true);
    rig.activation->StartActivation();

    rig.step(500);
    rig.activation->setSecondsMode(false);
    QCOMPARE(rig.activation->activationIntervalMs(), Activation::kUntilConfirmedMs);
    rig.step(800);
    QVERIFY(rig.activation->active());

    const qint64 switchedAt = rig.clock.nowMs();
    rig.activation->setSecondsMode(true);
    rig.step(1000);
    QVERIFY(!rig.activation->active());
    const auto sent = rig.sent();
    QVERIFY2(sent.last().ms - switchedAt >= 950, qPrintable(QString::number(sent.last().ms - switchedAt)));
    QCOMPARE(commandsFor(sent, 1), (QStringList{"ON", "OFF"}));
}

void TestDevice::secondsChangeOnlyRestartsInSecondsMode()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));

    // Until confirmed: the value is stored, the activation not shortened.
    rig.activation->setSecondsMode(false);
    rig.activation->StartActivation();
    rig.activation->SpinEdit1Change(1);
    QCOMPARE(rig.activation->activationIntervalMs(), Activation::kUntilConfirmedMs);
    QCOMPARE(rig.settings.ReadSetting(kSection, QStringLiteral("TellStickAktivateTimer")), QStringLiteral("1000"));
    rig.step(1200);
    QVERIFY(rig.activation->active());
    rig.activation->StopActivation();

    // Seconds mode: a different value restarts the countdown with it.
    rig.activation->setSecondsMode(true);
    rig.activation->StartActivation();
    rig.step(600);
    const qint64 changedAt = rig.clock.nowMs();
    rig.activation->SpinEdit1Change(2);
    QCOMPARE(rig.activation->activationIntervalMs(), 2000);
    rig.step(1000);
    QVERIFY(rig.activation->active());
    rig.step(1000);
    QVERIFY(!rig.activation->active());
    const qint64 ended = rig.sent().last().ms - changedAt;
    QVERIFY2(ended >= 1950, qPrintable(QString::number(ended)));

    rig.activation->SpinEdit1Change(999);
    QCOMPARE(rig.activation->activationIntervalMs(), 999000);
}

void TestDevice::closingLeavesTheDeviceAsItIs()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->SpinEdit2Change(100);
    rig.activation->CheckBox1Click(true);
    rig.activation->StartActivation();
    rig.activation->stopTimers();
    QVERIFY(!rig.activation->active());
    QVERIFY(!rig.activation->blinking());
    rig.step(250);
    QCOMPARE(commandsFor(rig.sent(), 1), QStringList{"ON"});
}

void TestDevice::lookupDuringActivationRedirectsIt()
{
    DeviceTestRig rig("1:Lampa,2:Summer");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->setSecondsMode(false);
    rig.activation->SpinEdit2Change(100);
    rig.activation->CheckBox1Click(true);
    rig.activation->StartActivation();
    QVERIFY(rig.connectTo(QStringLiteral("Summer")));
    rig.step(350);
    rig.activation->StopActivation();

    const auto sent = rig.sent();
    QCOMPARE(commandsFor(sent, 1), QStringList{"ON"});
    // Found during the call: switched on at once, then it blinks.
    const QStringList second = commandsFor(sent, 2);
    QVERIFY2(second.size() >= 3, qPrintable(second.join(' ')));
    QCOMPARE(second.mid(0, 2), (QStringList{"ON", "OFF"}));
    QCOMPARE(second.last(), QStringLiteral("OFF"));

    // A failed lookup leaves the blinking running without commands.
    rig.activation->StartActivation();
    QVERIFY(!rig.connectTo(QStringLiteral("Borta")));
    const int before = rig.sent().size();
    rig.step(250);
    QVERIFY(rig.activation->blinking());
    rig.activation->StopActivation();
    QCOMPARE(rig.sent().size(), before);
}

void TestDevice::manualSwitchDuringBlinkingKeepsThePhase()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->setSecondsMode(false);
    rig.activation->SpinEdit2Change(300);
    rig.activation->CheckBox1Click(true);
    rig.activation->StartActivation();
    rig.settle();                    // the panel shows "Turned On"
    rig.device->Panel4DblClick();    // on -> off by hand
    QCOMPARE(rig.activation->blinkPhase(), 1);
    rig.step(300);
    QCOMPARE(rig.activation->blinkPhase(), 2);
    rig.settle();
    rig.activation->StopActivation();
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF", "OFF", "OFF"}));
}

void TestDevice::failedSwitchIsShownRetriedAndCleared()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    QSignalSpy failures(rig.device.get(), &quvo::DeviceController::switchFailed);
    QSignalSpy faults(rig.device.get(), &quvo::DeviceController::faultChanged);
    rig.activation->setSecondsMode(false);
    rig.setFault("FAIL=notfound"); // the transmitter is unplugged

    rig.activation->StartActivation();
    rig.step(2 * quvo::DeviceController::kRetryMs);
    QVERIFY(failures.count() >= 3);
    rig.settle();
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Fel: TellStick not found"));
    QCOMPARE(rig.ui.deviceStatus.last(), qMakePair(QStringLiteral("Fel: TellStick not found"), Indicator::Red));
    // Told once for the whole run of failures, and shown once.
    QCOMPARE(rig.ui.notices, QStringList{"! Enheten kunde inte slås på: TellStick not found (felkod -1)"});
    QCOMPARE(std::count_if(rig.ui.deviceStatus.begin(), rig.ui.deviceStatus.end(),
                           [](const auto& s) { return s.first.startsWith(QStringLiteral("Fel")); }),
             1);
    QVERIFY(rig.device->receiverFault());
    QVERIFY(rig.sent().isEmpty());

    rig.setFault(""); // plugged in again, during the call
    rig.step(quvo::DeviceController::kRetryMs);
    QCOMPARE(commandsFor(rig.sent(), 1), QStringList{"ON"});
    rig.settle();
    QCOMPARE(rig.ui.deviceStatus.last(), qMakePair(QStringLiteral("Turned On"), Indicator::Green));
    QCOMPARE(rig.ui.notices.value(1), QStringLiteral("TellStick fungerar igen."));
    QCOMPARE(faults.count(), 2);
    QCOMPARE(faults.at(0).at(0).toBool(), true);
    QCOMPARE(faults.at(1).at(0).toBool(), false);
    QVERIFY(rig.activation->active());

    // A library without error texts shows the code instead.
    DeviceTestRig older("1:Lampa", TELLDUS_SIM_NOERRTEXT_PATH);
    QVERIFY(older.connectTo(QStringLiteral("Lampa")));
    older.setFault("FAIL=notfound");
    older.device->turnOff();
    older.settle();
    QCOMPARE(older.device->panelCaption(), QStringLiteral("Fel: felkod -1"));
    QCOMPARE(older.ui.notices, QStringList{"! Enheten kunde inte slås av (felkod -1)"});
}

void TestDevice::deviceFoundLateSwitchesTheWaitingCallOn()
{
    // No library at start, a call already waiting: the lookup goes on
    // quietly until the library is there.
    DeviceTestRig rig("1:Lampa", "/nonexistent/libtelldus-core.so.2");
    QVERIFY(!rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->setSecondsMode(false);
    rig.activation->StartActivation();
    rig.step(3 * quvo::DeviceController::kLookupRetryMs);
    QCOMPARE(rig.ui.infos.size(), 1);
    QCOMPARE(rig.ui.deviceStatus.size(), 1);

    qputenv("QUVO_TELLDUS_LIBRARY", TELLDUS_SIM_PATH);
    rig.step(quvo::DeviceController::kLookupRetryMs);
    QCOMPARE(rig.device->TellStickDeviceId(), 1);
    QVERIFY(rig.activation->active());
    QCOMPARE(commandsFor(rig.sent(), 1), QStringList{"ON"});
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));

    // A stalled service (not running) is a failure, told once; once it
    // answers again the lookups stop.
    DeviceTestRig stalled("1:Lampa");
    stalled.setFault("STALL_MS=10");
    QVERIFY(!stalled.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(stalled.device->panelCaption(), QStringLiteral("Fel: Could not connect to the Telldus Service"));
    stalled.step(quvo::DeviceController::kLookupRetryMs);
    stalled.setFault("");
    stalled.step(quvo::DeviceController::kLookupRetryMs);
    QCOMPARE(stalled.device->TellStickDeviceId(), 1);
    stalled.settle();
    QCOMPARE(stalled.ui.notices.size(), 2);
    QVERIFY(stalled.ui.notices[0].contains(QStringLiteral("Could not connect to the Telldus Service (felkod -6)")));
    QCOMPARE(stalled.ui.deviceStatus.last(), qMakePair(QStringLiteral("Turned Off"), Indicator::Green));
}

// The vendor's event thread spins once its service has gone away under it.
void TestDevice::busyLibraryThreadRestartsTheLibrary()
{
    DeviceTestRig rig("1:Lampa");
    rig.telldus.setLibraryWatchInterval(200);
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    QSignalSpy restarted(&rig.telldus, &quvo::TelldusWorker::libraryRestarted);
    rig.setFault("EVENTS=lost");
    QVERIFY(restarted.wait(3000));
    rig.setFault("");
    rig.device->turnOn();
    QCOMPARE(commandsFor(rig.sent(), 1), QStringList{"ON"});
}

void TestDevice::receiversOnOneWorkerKeepTheirLookupsAndRepeats()
{
    DeviceTestRig rig("1:Lampa,2:Summer,3:Lampa C");
    rig.settings.WriteSetting(kSection, QStringLiteral("TellStickRepeat"), QStringLiteral("3"));
    rig.telldus.setRepeatGap(10);
    quvo::DeviceController summer(rig.telldus, rig.settings, rig.ui, rig.clock);
    quvo::DeviceController lampC(rig.telldus, rig.settings, rig.ui, rig.clock);
    rig.device->restoreName();
    rig.device->Edit1Change(QStringLiteral("Lampa"));
    summer.useName(QStringLiteral("Summer"));
    lampC.useName(QStringLiteral("Lampa C"));
    // Queued together: none takes another's answer or drops its lookup.
    rig.device->BitBtn2Click();
    summer.BitBtn2Click();
    lampC.BitBtn2Click();
    rig.settle();
    QCOMPARE(rig.device->TellStickDeviceId(), 1);
    QCOMPARE(summer.TellStickDeviceId(), 2);
    QCOMPARE(lampC.TellStickDeviceId(), 3);

    // Another receiver's command leaves the repeats of one alone.
    rig.device->turnOn();
    summer.turnOn();
    const auto sent = rig.sent();
    QCOMPARE(commandsFor(sent, 1), (QStringList{"ON", "ON", "ON"}));
    QCOMPARE(commandsFor(sent, 2), (QStringList{"ON", "ON", "ON"}));
}

void TestDevice::everyCommandIsRepeatedAsSet()
{
    DeviceTestRig rig("1:Lampa");
    rig.settings.WriteSetting(kSection, QStringLiteral("TellStickRepeat"), QStringLiteral("3"));
    rig.device->restoreName();
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.device->turnOn();
    const auto sent = rig.sent();
    QCOMPARE(commandsFor(sent, 1), (QStringList{"ON", "ON", "ON"}));
    // The worker keeps the gap on the real clock.
    const qint64 span = sent.last().wallMs - sent.first().wallMs;
    QVERIFY2(span >= 450 && span < 900, qPrintable(QString::number(span)));

    // A newer command ends the repeats of the one before.
    rig.device->turnOn();
    QTest::qWait(100);
    rig.device->turnOff();
    QCOMPARE(commandsFor(rig.sent(), 1).mid(3), (QStringList{"ON", "OFF", "OFF", "OFF"}));

    rig.settings.WriteSetting(kSection, QStringLiteral("TellStickRepeat"), QStringLiteral("9"));
    rig.device->restoreName();
    QCOMPARE(rig.device->repeat(), 5);
    rig.settings.WriteSetting(kSection, QStringLiteral("TellStickRepeat"), QStringLiteral("x"));
    rig.device->restoreName();
    QCOMPARE(rig.device->repeat(), 1);
}

void TestDevice::restoreUsesDefaults()
{
    DeviceTestRig rig("");
    QSignalSpy spy(rig.activation.get(), &Activation::settingsRestored);
    rig.activation->restoreSettings();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(rig.activation->activationIntervalMs(), 2000);
    QCOMPARE(rig.activation->seconds(), 2);
    QCOMPARE(rig.activation->blinkIntervalMs(), 500);
    QVERIFY(!rig.activation->blink());
    QVERIFY(!rig.activation->secondsMode());

    rig.activation->RadioButton2Click();
    QCOMPARE(rig.activation->activationIntervalMs(), Activation::kUntilConfirmedMs);
    QCOMPARE(rig.settings.ReadSetting(kSection, QStringLiteral("TellStickAktivateMode")), QStringLiteral("2"));
}

void TestDevice::restoreReadsStoredValuesIntoRange()
{
    struct Case {
        const char* activate;
        const char* blink;
        const char* mode;
        const char* doBlink;
        int interval;
        int seconds;
        int blinkMs;
        bool secondsMode;
        bool blinkOn;
    };
    const Case cases[] = {
        {"5000", "250", "1", "-1", 5000, 5, 250, true, true},
        {"2500", "50", "3", "0", 2500, 2, 100, false, false},
        {"500", "9999", "2", "-1", 500, 1, 5000, false, true},
        {"1500000", "abc", "1", "0", 1500000, 999, 500, true, false},
        {"0", "100", "x", "0", 2000, 2, 100, false, false},
    };
    for (const Case& c : cases) {
        DeviceTestRig rig("");
        rig.settings.WriteSetting(kSection, QStringLiteral("TellStickAktivateTimer"), QString::fromLatin1(c.activate));
        rig.settings.WriteSetting(kSection, QStringLiteral("TellStickIntervalTimer"), QString::fromLatin1(c.blink));
        rig.settings.WriteSetting(kSection, QStringLiteral("TellStickAktivateMode"), QString::fromLatin1(c.mode));
        rig.settings.WriteSetting(kSection, QStringLiteral("TellStickDoIntervall"), QString::fromLatin1(c.doBlink));
        rig.activation->restoreSettings();
        const QByteArray what = QByteArray(c.activate) + '/' + c.blink + '/' + c.mode;
        QVERIFY2(rig.activation->activationIntervalMs() == c.interval, what);
        QVERIFY2(rig.activation->seconds() == c.seconds, what);
        QVERIFY2(rig.activation->blinkIntervalMs() == c.blinkMs, what);
        QVERIFY2(rig.activation->secondsMode() == c.secondsMode, what);
        QVERIFY2(rig.activation->blink() == c.blinkOn, what);

        // The mode handler at the end of start-up settles the interval.
        rig.activation->RadioButton2Click();
        QVERIFY2(rig.activation->activationIntervalMs()
                     == (c.secondsMode ? c.seconds * 1000 : Activation::kUntilConfirmedMs),
                 what);
    }
}

void TestDevice::handlersWriteTheirSettings()
{
    DeviceTestRig rig("");
    rig.activation->SpinEdit1Change(7);
    rig.activation->SpinEdit2Change(1200);
    rig.activation->CheckBox1Click(true);
    rig.activation->setSecondsMode(true);

    // As the next start of the program sees them.
    {
        SettingsStore again(locationsIn(rig.dir));
        QCOMPARE(again.ReadSetting(kSection, QStringLiteral("TellStickAktivateTimer")), QStringLiteral("7000"));
        QCOMPARE(again.ReadSetting(kSection, QStringLiteral("TellStickIntervalTimer")), QStringLiteral("1200"));
        QCOMPARE(again.ReadSetting(kSection, QStringLiteral("TellStickDoIntervall")), QStringLiteral("-1"));
        QCOMPARE(again.ReadSetting(kSection, QStringLiteral("TellStickAktivateMode")), QStringLiteral("1"));
        quvo::TelldusWorker telldus;
        quvo::DeviceController device(telldus, again, rig.ui);
        Activation restored(device, again);
        restored.restoreSettings();
        QVERIFY(restored.secondsMode());
        QCOMPARE(restored.seconds(), 7);
        QCOMPARE(restored.activationIntervalMs(), 7000);
        QCOMPARE(restored.blinkIntervalMs(), 1200);
        QVERIFY(restored.blink());
    }

    rig.activation->CheckBox1Click(false);
    rig.activation->setSecondsMode(false);
    QCOMPARE(rig.settings.ReadSetting(kSection, QStringLiteral("TellStickDoIntervall")), QStringLiteral("0"));
    QCOMPARE(rig.settings.ReadSetting(kSection, QStringLiteral("TellStickAktivateMode")), QStringLiteral("2"));
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"

void TestDevice::decisionSurvivesLookupAndQuit()
{
    // Left on by an earlier run; the first lookup is slow and the first list
    // says nothing is unconfirmed: the off reaches the device it finds.
    DeviceTestRig rig("1:Lampa");
    rig.appendToLog("1 ON 1\n");
    rig.setFault("STALL_MS=60000");
    rig.device->Edit1Change(QStringLiteral("Lampa"));
    rig.device->BitBtn2Click();
    rig.activation->StopActivation();
    rig.setFault("");
    rig.settle();
    QCOMPARE(rig.device->TellStickDeviceId(), 1);
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF"}));

    // Quitting while the off waits behind a slow on still sends the off.
    rig.setFault("STALL_MS=60000");
    rig.activation->StartActivation();
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // the on is under way
    rig.activation->StopActivation();
    std::thread lift([&rig] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QFile::remove(rig.controlPath());
    });
    rig.activation->stopTimers();
    rig.device->flushIntent();
    const bool closed = rig.telldus.close();
    lift.join();
    QVERIFY(closed);
    QCOMPARE(commandsFor(rig.sent(), 1), (QStringList{"ON", "OFF", "ON", "OFF"}));
}

void TestDevice::failedAndMissedCommandsAreSentAgain()
{
    DeviceTestRig rig("1:Lampa");
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    rig.activation->setSecondsMode(false);
    rig.activation->setRefreshSeconds(30);
    auto offsSince = [&rig](qint64 from) {
        QVector<qint64> at;
        for (const SentCommand& c : rig.sent())
            if (!c.on && c.ms >= from)
                at << c.ms;
        return at;
    };

    // A receiver that missed the on gets it again while the call stands.
    rig.setFault("LOSS=1");
    rig.activation->StartActivation();
    rig.settle();
    QCOMPARE(rig.receiver(1), QString());
    rig.setFault("");
    rig.step(30'000);
    QCOMPARE(rig.receiver(1), QStringLiteral("ON"));

    // The off is sent again at 1, 2, 4 and 8 refresh intervals after the
    // end; then the radio is quiet.
    rig.setFault("LOSS=1");
    rig.activation->StopActivation();
    rig.step(500'000);
    QCOMPARE(offsSince(30'000), (QVector<qint64>{30'000, 60'000, 90'000, 150'000, 270'000}));
    QCOMPARE(rig.receiver(1), QStringLiteral("ON"));

    // A switch-off that fails is tried again until it goes through, every
    // 10 s once it has failed for a minute.
    rig.setFault("");
    rig.activation->StartActivation();
    rig.setFault("FAIL=notfound");
    const qint64 stop = rig.clock.nowMs();
    rig.activation->StopActivation();
    rig.step(quvo::DeviceController::kSlowRetryAfterMs);
    QVERIFY(offsSince(stop).isEmpty());
    rig.setFault("");
    rig.step(quvo::DeviceController::kSlowRetryMs);
    QCOMPARE(offsSince(stop).size(), 1);
    QCOMPARE(rig.receiver(1), QStringLiteral("OFF"));
}

// The status read behind a command is not dropped by the next blink step.
void TestDevice::panelFollowsBlinkingWithRepeats()
{
    DeviceTestRig rig("1:Lampa");
    rig.telldus.setRepeatGap(100);
    rig.settings.WriteSetting(kSection, QStringLiteral("TellStickRepeat"), QStringLiteral("3"));
    rig.device->restoreName();
    QVERIFY(rig.connectTo(QStringLiteral("Lampa")));
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned Off"));
    rig.activation->setSecondsMode(false);
    rig.activation->CheckBox1Click(true);
    rig.activation->StartActivation();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    rig.clock.advance(rig.activation->blinkIntervalMs()); // the worker is still repeating the on
    rig.settle();
    QCOMPARE(rig.device->panelCaption(), QStringLiteral("Turned On"));
}
