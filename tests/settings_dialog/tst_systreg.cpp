#include "../common/PixelContrast.h"
#include "SystregRig.h"
#include "settings_dialog/SystregRules.h"
#include "core/Dispatcher.h"
#include "core/ReceiverSet.h"
#include "protocol/StreamReader.h"
#include "settings_dialog/ReceiversPage.h"

#include <QCheckBox>
#include <QDir>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>

using namespace quvo;

namespace {
const QString kServer = QStringLiteral("ServerSettings");
const QString kQuvo = QStringLiteral("QUVO");
const QString kAutoName = QStringLiteral("KLINIK1_Hardware");

QList<int> idsOf(QListWidget* list)
{
    QList<int> ids;
    for (int i = 0; i < list->count(); ++i)
        ids << list->item(i)->data(Qt::UserRole).toInt();
    return ids;
}

QStringList textsOf(QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

QByteArray wire(const QString& text) { return toWire(text); }

QWidget* visibleBalloon()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("quvoBalloon") && w->isVisible())
            return w;
    return nullptr;
}

QString visibleBalloonText()
{
    QWidget* balloon = visibleBalloon();
    if (!balloon)
        return QString();
    QStringList texts;
    for (QLabel* l : balloon->findChildren<QLabel*>())
        texts << l->text();
    return texts.join(u'|');
}

void hideBalloons()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("quvoBalloon"))
            w->hide();
}
} // namespace

class TestSystreg : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RecordingUi> m_ui;
    std::unique_ptr<HardwareClient> m_client;
    std::unique_ptr<TfrmSystreg> m_dialog;
    int m_updateChecks = 0;

    template <class T> T* w(const char* name) { return m_dialog->findChild<T*>(QLatin1String(name)); }
    QTabWidget* tabs() { return w<QTabWidget>("PageControl1"); }
    QListWidget* all() { return w<QListWidget>("ListBox1"); }
    QListWidget* chosen() { return w<QListWidget>("ListBox2"); }
    void click(const char* name) { QTest::mouseClick(w<QPushButton>(name), Qt::LeftButton); }
    SettingsStore& settings() { return m_client->settings(); }

    bool connectTo(FakeCallServer& server)
    {
        settings().WriteSetting(kServer, QStringLiteral("ServerName"), QStringLiteral("127.0.0.1"));
        settings().WriteSetting(kServer, QStringLiteral("ServerPort"), QString::number(server.port()));
        m_client->parts().connection.ConnectToServer(false);
        return QTest::qWaitFor([&] {
            return m_client->parts().connection.isActive() && m_client->parts().state.ServerVersionText == server.version;
        }, 5000);
    }

    // Connected, dialog open on the client page, the full listing applied.
    void openClientPageWithResources(FakeCallServer& server)
    {
        QVERIFY(connectTo(server));
        m_dialog->show();
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        QCOMPARE(m_dialog->activePage(), SettingsPage::ClientSettings);
        server.send(QStringLiteral("¤RETALLCALLABLES:Rum A:12:x:x:x:x:T:Rum B:15:x:x:x:x:T:"
                                   "Lab:20:x:x:x:x:F:Admin:1:x:x:x:x:f::RETALLCALLABLES¤"));
        QTRY_COMPARE(all()->count(), 4);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", (m_dir->path() + "/config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", (m_dir->path() + "/etc").toUtf8());
        qputenv("XDG_DATA_HOME", (m_dir->path() + "/data").toUtf8());
        qputenv("QUVO_TELLDUS_LIBRARY", (m_dir->path() + "/no-such-library.so").toUtf8());
        m_ui = std::make_unique<RecordingUi>();
        m_client = std::make_unique<HardwareClient>(*m_ui, QStringList());
        m_client->FormCreate();
        m_client->parts().identity.setHostNameSource([] { return QStringLiteral("klinik1"); });
        m_client->parts().identity.setEnvironmentReader([](const char*) { return QString(); });
        m_client->settings().setIniWaitMs(300);
        m_updateChecks = 0;
        m_client->parts().connection.setUpdateCheck([this] {
            ++m_updateChecks;
            m_client->parts().connection.updateCheckFinished(false);
        });
        m_dialog = std::make_unique<TfrmSystreg>(*m_client);
        m_dialog->setSavePauseMs(20);
        m_ui->dialog = m_dialog.get();
    }

    void cleanup()
    {
        hideBalloons();
        m_ui->dialog = nullptr;
        m_dialog.reset();
        m_client->parts().connection.stopTimers();
        m_client.reset();
        m_ui.reset();
        m_dir.reset();
    }

    void versionRule()
    {
        QVERIFY(systreg::isCurrentServer(QStringLiteral("1.10.4")));
        QVERIFY(systreg::isCurrentServer(QStringLiteral("1.11.0")));
        QVERIFY(!systreg::isCurrentServer(QStringLiteral("1.10.10")));
        QVERIFY(!systreg::isCurrentServer(QString()));
        QCOMPARE(systreg::windowsFromColor(QColor(255, 0, 0)), 0x0000FF);
        QCOMPARE(systreg::windowsFromColor(systreg::colorFromWindows(0x123456)), 0x123456);
    }

    void firstStartWithoutServer()
    {
        QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Systemregister"));
        QCOMPARE(m_dialog->size(), QSize(573, 391));
        QCOMPARE(w<QPushButton>("btnSave")->text(), QStringLiteral("Spara"));
        QCOMPARE(w<QPushButton>("btnCancel")->text(), QStringLiteral("Ångra"));
        QCOMPARE(w<QPushButton>("btnReturn")->text(), QStringLiteral("Återgå"));

        m_dialog->SetTabs(SettingsPage::ClientSettings);   // no connection: server page only
        QCOMPARE(m_dialog->activePage(), SettingsPage::ServerSettings);
        QVERIFY(!tabs()->isTabVisible(1));
        QCOMPARE(w<QLineEdit>("edServername")->text(), QStringLiteral("ERROR"));
        QCOMPARE(w<QSpinBox>("edServerport")->value(), 0);
        QCOMPARE(w<QLineEdit>("edServerver")->text(), QString());
        QCOMPARE(w<QLineEdit>("edUpdateServername")->text(), QStringLiteral("ERROR"));
        QCOMPARE(w<QSpinBox>("edUpdateServerport")->value(), 0);
        QVERIFY(w<QLineEdit>("edUpdateServername")->isReadOnly());
        QVERIFY(w<QSpinBox>("edUpdateServerport")->isReadOnly());

        auto* themes = w<QComboBox>("ComboBox1");
        QCOMPARE(themes->itemText(0), QStringLiteral("Windows"));
        QCOMPARE(themes->count(), 37);
        QCOMPARE(themes->currentText(), QStringLiteral("Windows"));

        // Esc reloads and keeps the dialog open; Enter presses nothing.
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        w<QLineEdit>("edServername")->setText(QStringLiteral("typed"));
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(w<QLineEdit>("edServername")->text(), QStringLiteral("ERROR"));
        w<QLineEdit>("edServername")->setText(QStringLiteral("typed"));
        w<QPushButton>("btnSave")->setFocus();
        QTest::keyClick(w<QPushButton>("btnSave"), Qt::Key_Return);
        QTest::keyClick(w<QLineEdit>("edServername"), Qt::Key_Enter);
        QCOMPARE(settings().ReadSetting(kServer, QStringLiteral("ServerName")), QStringLiteral("ERROR"));
    }

    void sparaMakesEveryLaterCloseReconnect()
    {
        int hooks = 0;
        m_client->parts().state.ServerConnectHook = [&](bool reconnect) { QVERIFY(!reconnect); ++hooks; };
        m_dialog->SetTabs(SettingsPage::ServerSettings);
        m_dialog->show();
        click("btnReturn");
        QVERIFY(!m_dialog->isVisible());
        QCOMPARE(hooks, 0);

        settings().WriteSetting(kServer, QStringLiteral("ServerPort"), QStringLiteral("4000"));
        m_dialog->SetTabs(SettingsPage::ServerSettings);
        m_dialog->show();
        m_dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog.get()));
        w<QLineEdit>("edServername")->setText(QStringLiteral(" srv1 "));
        // The port cleared as a person does it; the click on "Spara" takes the focus from it.
        QLineEdit* portText = w<QSpinBox>("edServerport")->findChild<QLineEdit*>();
        QTest::mouseClick(portText, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w<QSpinBox>("edServerport"));
        QTest::keyClick(portText, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(portText, Qt::Key_Backspace);
        QCOMPARE(portText->text(), QString());
        click("btnSave");
        QCOMPARE(QApplication::focusWidget(), w<QPushButton>("btnSave"));
        QCOMPARE(hooks, 1);
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(settings().ReadSetting(kServer, QStringLiteral("ServerName")), QStringLiteral(" srv1 "));
        QCOMPARE(settings().ReadSetting(kServer, QStringLiteral("ServerPort")), QStringLiteral("0"));
        // Theme untouched: no Style written, no balloon.
        QCOMPARE(settings().ReadSetting(QStringLiteral("KlientSettings"), QStringLiteral("Style")),
                 QStringLiteral("ERROR"));
        QCOMPARE(visibleBalloonText(), QString());
        m_dialog->close();
        QCOMPARE(hooks, 2);
        m_dialog->show();
        m_dialog->reject();
        QCOMPARE(hooks, 3);
    }

    void savingServerPageReconnectsToNewServer()
    {
        FakeCallServer oldServer;
        QVERIFY(connectTo(oldServer));
        QCOMPARE(m_updateChecks, 1);
        FakeCallServer newServer;
        newServer.version = QStringLiteral("1.11.0");
        newServer.iniValues.insert(QStringLiteral("UpdateServerName"), QStringLiteral("upd.example"));

        m_dialog->SetTabs(SettingsPage::ServerSettings);
        m_dialog->show();
        QVERIFY(tabs()->isTabVisible(1));
        QCOMPARE(w<QLineEdit>("edServerver")->text(), QStringLiteral("1.10.4"));

        auto* themes = w<QComboBox>("ComboBox1");
        const int pick = themes->findText(QStringLiteral("Windows10 Blue"));
        QVERIFY(pick > 0);
        themes->setCurrentIndex(pick);
        emit themes->activated(pick);
        w<QSpinBox>("edServerport")->setValue(newServer.port());
        click("btnSave");

        QCOMPARE(settings().ReadSetting(QStringLiteral("KlientSettings"), QStringLiteral("Style")),
                 QStringLiteral("Windows10 Blue"));
        QVERIFY(visibleBalloonText().contains(QStringLiteral("Du måste starta om programmet för att temat skall ändras.")));
        QCOMPARE(settings().ReadSetting(kServer, QStringLiteral("ServerPort")), QString::number(newServer.port()));
        // What the save leaves before the reconnect: checked before the event
        // loop runs again, since the new connection may come up as soon as it does.
        QVERIFY(!m_client->parts().state.HasBeenConnected);
        QVERIFY(m_client->parts().state.UpdateServerVersionText.isEmpty());
        QVERIFY(!tabs()->isTabVisible(1));
        QCOMPARE(w<QLineEdit>("edServerver")->text(), QString());
        QCOMPARE(w<QLineEdit>("edUpdateServername")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(w<QSpinBox>("edUpdateServerport")->value(), int(newServer.port()));
        // Written while the old connection was still up.
        QTRY_VERIFY(oldServer.framesWithTag("SETINITEXT").contains(
            wire(QStringLiteral("¤SETINITEXT:ServerSettings:ServerPort:%1:SETINITEXT¤").arg(newServer.port()))));

        // The hook connects to the new server; its version message brings the client page back.
        QTRY_VERIFY_WITH_TIMEOUT(tabs()->isTabVisible(1), 5000);
        QCOMPARE(newServer.connections, 1);
        QCOMPARE(m_updateChecks, 2);
        QCOMPARE(w<QLineEdit>("edServerver")->text(), QStringLiteral("1.11.0"));
        QCOMPARE(w<QLineEdit>("edUpdateServername")->text(), QStringLiteral("upd.example"));
        QCOMPARE(m_dialog->activePage(), SettingsPage::ServerSettings);
    }

    void clientNameChoiceAndKeystrokes()
    {
        FakeCallServer server;
        QVERIFY(connectTo(server));
        m_dialog->show();
        auto* automatic = w<QRadioButton>("RadioButton1");
        auto* manual = w<QRadioButton>("RadioButton2");
        auto* edit2 = w<QLineEdit>("Edit2");

        // A missing key chooses the automatic name; any text but "1" the manual one.
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        QVERIFY(automatic->isChecked());
        QVERIFY(!edit2->isEnabled());
        settings().WriteSetting(kQuvo, QStringLiteral("ClientNameUseDefault"), QStringLiteral("yes"));
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        QVERIFY(manual->isChecked());
        QVERIFY(edit2->isEnabled());
        // Choosing it from code writes the choice, as a click would.
        QCOMPARE(settings().ReadSetting(kQuvo, QStringLiteral("ClientNameUseDefault")), QStringLiteral("0"));
        QCOMPARE(w<QLineEdit>("Edit1")->text(), kAutoName);
        QVERIFY(!w<QLineEdit>("Edit1")->isEnabled());

        edit2->clear();
        QTest::keyClicks(edit2, QStringLiteral("Ra"));
        edit2->insert(QStringLiteral("ö"));
        QCOMPARE(settings().ReadSetting(kQuvo, QStringLiteral("ClientName")), QStringLiteral("Raö"));
        QTRY_VERIFY(server.framesWithTag("SETINITEXT").contains(
            wire(QStringLiteral("¤SETINITEXT:QUVO:ClientName:R:SETINITEXT¤"))));
        QTRY_VERIFY(server.framesWithTag("SETINITEXT").contains(
            wire(QStringLiteral("¤SETINITEXT:QUVO:ClientName:Raö:SETINITEXT¤"))));
        // Frames of the page use the name on view at once.
        click("btnCancel");
        QTRY_COMPARE(server.lastFrame("GETALLCALLABLES"), wire(QStringLiteral("¤GETALLCALLABLES:Raö:GETALLCALLABLES¤")));

        QTest::mouseClick(automatic, Qt::LeftButton, {}, QPoint(5, automatic->height() / 2));
        QVERIFY(automatic->isChecked());
        QVERIFY(!edit2->isEnabled());
        QCOMPARE(settings().ReadSetting(kQuvo, QStringLiteral("ClientNameUseDefault")), QStringLiteral("1"));
        click("btnSave");
        QCOMPARE(settings().ReadSetting(kQuvo, QStringLiteral("ClientName")), kAutoName);
        click("btnCancel");
        QCOMPARE(edit2->text(), kAutoName);
    }

    void movingResources()
    {
        FakeCallServer server;
        openClientPageWithResources(server);
        QCOMPARE(textsOf(all()), (QStringList{QStringLiteral("Rum A"), QStringLiteral("Rum B"),
                                              QStringLiteral("Lab - (inaktiv)"), QStringLiteral("Admin")}));
        QVERIFY(!w<QLabel>("pnlPlats")->isHidden());

        // Focused but not selected: copied, stays in "Alla resurser".
        all()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
        all()->clearSelection();
        click("BitBtn1");
        QCOMPARE(idsOf(chosen()), (QList<int>{15}));
        QCOMPARE(idsOf(all()), (QList<int>{12, 15, 20, 1}));

        // Selected entries go top to bottom and leave the left list.
        all()->item(3)->setSelected(true);
        all()->item(0)->setSelected(true);
        click("BitBtn1");
        QCOMPARE(idsOf(chosen()), (QList<int>{15, 12, 1}));
        QCOMPARE(idsOf(all()), (QList<int>{15, 20}));

        // Double click in "Alla resurser" moves the clicked entry.
        all()->clearSelection();
        const QPoint onLab = all()->visualItemRect(all()->item(1)).center();
        QTest::mouseClick(all()->viewport(), Qt::LeftButton, {}, onLab);   // the press a real double click has
        QTest::mouseDClick(all()->viewport(), Qt::LeftButton, {}, onLab);
        QCOMPARE(idsOf(chosen()), (QList<int>{15, 12, 1, 20}));
        QCOMPARE(idsOf(all()), (QList<int>{15}));

        // Up and down move the focused entry and keep the focus on it.
        chosen()->clearSelection();
        chosen()->setCurrentRow(3, QItemSelectionModel::NoUpdate);
        click("BitBtn3");
        QCOMPARE(idsOf(chosen()), (QList<int>{15, 12, 20, 1}));
        QCOMPARE(chosen()->currentRow(), 2);
        click("BitBtn3");
        click("BitBtn3");
        click("BitBtn3");   // already first
        QCOMPARE(idsOf(chosen()), (QList<int>{20, 15, 12, 1}));
        QCOMPARE(chosen()->currentRow(), 0);
        chosen()->setCurrentRow(3, QItemSelectionModel::NoUpdate);
        click("BitBtn4");   // already last
        QCOMPARE(idsOf(chosen()), (QList<int>{20, 15, 12, 1}));
        chosen()->setCurrentRow(1, QItemSelectionModel::NoUpdate);
        click("BitBtn4");
        QCOMPARE(idsOf(chosen()), (QList<int>{20, 12, 15, 1}));
        QCOMPARE(chosen()->currentRow(), 2);

        // Back: id 1 is not added a second time, other ids are duplicated.
        all()->addItem(QStringLiteral("Admin"));
        all()->item(1)->setData(Qt::UserRole, 1);
        chosen()->clearSelection();
        chosen()->item(3)->setSelected(true);   // id 1
        chosen()->item(2)->setSelected(true);   // id 15, also in "Alla resurser"
        click("BitBtn2");
        QCOMPARE(idsOf(chosen()), (QList<int>{20, 12}));
        QCOMPARE(idsOf(all()), (QList<int>{15, 1, 15}));
        chosen()->clearSelection();
        click("BitBtn2");   // nothing selected: nothing happens
        QCOMPARE(idsOf(chosen()), (QList<int>{20, 12}));

        // With "Alla resurser" empty the arrow does nothing.
        all()->clear();
        click("BitBtn1");
        QCOMPARE(idsOf(chosen()), (QList<int>{20, 12}));
    }

    void sparaSendsChosenResourcesInListOrder()
    {
        FakeCallServer server;
        openClientPageWithResources(server);
        const QList<QByteArray> requests = server.frames.mid(server.frames.size() - 2);
        QCOMPARE(requests.value(0), wire(QStringLiteral("¤GETALLCALLABLES:%1:GETALLCALLABLES¤").arg(kAutoName)));
        QCOMPARE(requests.value(1),
                 wire(QStringLiteral("¤GETSTATIONCALLABLES:%1:GETSTATIONCALLABLES¤").arg(kAutoName)));

        server.send(QStringLiteral("¤RETSTATIONCALLABLES:15:0:99:1:12:2::RETSTATIONCALLABLES¤"));
        QTRY_COMPARE(idsOf(chosen()), (QList<int>{15, 12}));
        QCOMPARE(idsOf(all()), (QList<int>{20, 1}));
        click("btnSave");
        QTRY_COMPARE(server.lastFrame("POSTCALLABLESLIST"),
                     wire(QStringLiteral("¤POSTCALLABLESLIST:%1:3:15:0:12:1:POSTCALLABLESLIST¤").arg(kAutoName)));

        chosen()->selectAll();
        click("BitBtn2");
        click("btnSave");
        QTRY_COMPARE(server.lastFrame("POSTCALLABLESLIST"),
                     wire(QStringLiteral("¤POSTCALLABLESLIST:%1:3:POSTCALLABLESLIST¤").arg(kAutoName)));
    }

    void registration()
    {
        FakeCallServer server;
        m_client->parts().state.ClientData.Color = kColourGreen;
        m_client->parts().state.ClientData.FriendlyName = QStringLiteral("   ");
        QVERIFY(connectTo(server));
        m_dialog->show();
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        QCOMPARE(w<QLabel>("Panel6")->property("windowsColour").toInt(), kColourGreen);

        m_dialog->setFocus();
        click("BitBtn6");
        QCOMPARE(m_dialog->focusWidget(), w<QLineEdit>("Edit3"));
        QVERIFY(visibleBalloonText().contains(QStringLiteral("Plats måste fyllas i!")));
        // Its pointer touches the place field's lower edge.
        QLineEdit* place = w<QLineEdit>("Edit3");
        const QPoint tip = place->mapToGlobal(QPoint(place->width() / 2, place->height()));
        QCOMPARE(visibleBalloon()->geometry().top(), tip.y());
        QVERIFY(visibleBalloon()->geometry().left() <= tip.x() && visibleBalloon()->geometry().right() >= tip.x());
        QTest::qWait(50);
        QVERIFY(server.framesWithTag("REGISTERUPATEMACHINE").isEmpty());

        w<QLineEdit>("Edit3")->setText(QStringLiteral(" Rum 3 "));
        click("BitBtn6");
        QTRY_COMPARE(server.lastFrame("REGISTERUPATEMACHINE"),
                     wire(QStringLiteral("¤REGISTERUPATEMACHINE:%1:3: Rum 3 :32768::0:REGISTERUPATEMACHINE¤")
                              .arg(kAutoName)));
        QCOMPARE(m_client->parts().state.ClientData.FriendlyName, QStringLiteral(" Rum 3 "));
        QCOMPARE(m_client->parts().state.ClientData.Color, kColourGreen);
    }

    // The swatch's caption stands out on any colour the user picks.
    void colourCaptionReadableOnAnyColour()
    {
        FakeCallServer server;
        QVERIFY(connectTo(server));
        m_dialog->show();
        auto* swatch = w<QLabel>("Panel6");
        for (int colour : {0x000000, 0xFFFFFF, 0x808080, 0x767676, 0xFF0000, 0x00FFFF, 0x0000FF}) {
            m_client->parts().state.ClientData.Color = colour;
            m_dialog->SetTabs(SettingsPage::ClientSettings);
            const QRect inside = test::scaledArea(swatch->contentsRect().adjusted(2, 2, -2, -2));
            QVERIFY2(test::strongestContrast(test::renderedLarge(swatch), inside) >= 4.5,
                     qPrintable(QString::number(colour, 16)));
        }
    }

    void clientDataAndUnknownClient()
    {
        FakeCallServer server;
        QVERIFY(connectTo(server));
        auto* panel = w<QLabel>("pnlPlats");
        QVERIFY(!panel->isHidden());
        QVERIFY(panel->text().contains(QStringLiteral("\"Lägg till/uppdatera klient...\"")));
        m_dialog->SetTabs(SettingsPage::ServerSettings);
        m_dialog->show();
        const int requestsBefore = server.framesWithTag("GETALLCALLABLES").size();

        server.send(QStringLiteral("¤QUVOCLIENTDATA:KLINIK1_Hardware:Rum 7:255:QUVOCLIENTDATA¤"));
        QTRY_VERIFY(panel->isHidden());
        QCOMPARE(m_dialog->activePage(), SettingsPage::ClientSettings);
        QCOMPARE(w<QLineEdit>("Edit3")->text(), QStringLiteral("Rum 7"));
        QCOMPARE(w<QLabel>("Panel6")->property("windowsColour").toInt(), 255);
        QTRY_COMPARE(server.framesWithTag("GETALLCALLABLES").size(), requestsBefore + 1);

        m_dialog->close();
        server.send(QStringLiteral("ERROR: 001"));
        QTRY_VERIFY(!panel->isHidden());
        QVERIFY(m_ui->infos.contains(QStringLiteral("Klienten finns inte i databasen!\rGå till Systemregistret, "
                                                    "fyll i Klientnamn/plats, välj en färg och tryck på Lägg till.")));
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(m_dialog->activePage(), SettingsPage::ClientSettings);
        for (const char* list : {"ListBox1", "ListBox2"}) {
            QWidget* lw = w<QWidget>(list);
            QVERIFY(panel->geometry().contains(QRect(lw->mapTo(panel->parentWidget(), QPoint()), lw->size())));
        }
    }

    void lateListingsAfterClosing()
    {
        FakeCallServer server;
        openClientPageWithResources(server);
        m_dialog->close();
        server.send(QStringLiteral("¤RETALLCALLABLES:Other:77:x:x:x:x:T::RETALLCALLABLES¤"));
        server.send(QStringLiteral("¤RETSTATIONCALLABLES:12:0::RETSTATIONCALLABLES¤"));
        QTRY_COMPARE(idsOf(chosen()), (QList<int>{12}));
        QCOMPARE(idsOf(all()), (QList<int>{15, 20, 1}));
    }

    void oldServerTakesChoiceFromCallList_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("current");
        QTest::newRow("1.10.10 is old") << QStringLiteral("1.10.10") << false;
        QTest::newRow("1.11.0 is current") << QStringLiteral("1.11.0") << true;
    }

    void oldServerTakesChoiceFromCallList()
    {
        QFETCH(QString, version);
        QFETCH(bool, current);
        FakeCallServer server;
        server.version = version;
        QVERIFY(connectTo(server));
        server.send(QStringLiteral("¤CURRENTLIST:Lab:20:255:0:¤%%¤:Rum A:12:255:1:¤%%¤:CURRENTLIST¤"));
        QTRY_COMPARE(int(m_client->parts().dispatcher.CurrentCalls().size()), 2);

        m_dialog->show();
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        QTRY_COMPARE(server.framesWithTag("GETALLCALLABLES").size(), 1);

        const QString listing = QStringLiteral("¤RETALLCALLABLES:Rum A:12:x:x:x:x:T:Rum B:15:x:x:x:x:T:"
                                               "Lab:20:x:x:x:x:F::RETALLCALLABLES¤");
        server.send(listing);
        QTRY_VERIFY(all()->count() > 0);
        if (current) {
            QCOMPARE(idsOf(all()), (QList<int>{12, 15, 20}));
            QCOMPARE(chosen()->count(), 0);
        } else {
            QCOMPARE(idsOf(chosen()), (QList<int>{20, 12}));
            QCOMPARE(textsOf(chosen()).first(), QStringLiteral("Lab - (inaktiv)"));
            QCOMPARE(idsOf(all()), (QList<int>{15}));
        }
        // The old way fills once; a current server's listing fills again.
        all()->clear();
        server.send(listing);
        QTest::qWait(100);
        QCOMPARE(all()->count(), current ? 3 : 0);
        QCOMPARE(server.framesWithTag("GETSTATIONCALLABLES").size(), current ? 1 : 0);
    }

    // Added, changed and removed on the page, written only at "Spara".
    void receiversPage()
    {
        qputenv("QUVO_TELLDUS_LIBRARY", TELLDUS_SIM_PATH);
        qputenv("TELLDUS_SIM_DEVICES", "1:Lampa,2:Summer i hallen,3:Lampa korridor B");
        const QString section = ReceiverSet::kSection;
        settings().WriteSetting(section, QStringLiteral("1"), QStringLiteral("Summer i hallen;*;120"));
        // This client's resources, as its call list names them.
        const QByteArray list = "\xA4" "CURRENTLIST:R\xF6ntgen:4:255:0:\xA4%%\xA4:Labb:7:255:1:\xA4%%\xA4:CURRENTLIST\xA4";
        protocol::StreamReader reader;
        std::vector<protocol::Unit> units;
        reader.feed(std::string_view(list.constData(), std::size_t(list.size())), units);
        for (protocol::Unit& u : units)
            m_client->parts().dispatcher.DispatchServerText(std::move(u));

        m_dialog->SetTabs(SettingsPage::Receivers);
        m_dialog->show();
        QCOMPARE(m_dialog->activePage(), SettingsPage::Receivers);
        auto* page = w<ReceiversPage>("tsMottagare");
        QCOMPARE(textsOf(page->lbMottagare), QStringList{"Summer i hallen: alla resurser, efter 120 s"});
        QCOMPARE(textsOf(page->lbResurser), (QStringList{"R\u00f6ntgen", "Labb"}));
        QTRY_COMPARE(page->cbEnhet->count(), 3); // the library's devices

        page->cbEnhet->setCurrentText(QStringLiteral("Lampa korridor B"));
        page->chkAllaResurser->setChecked(false);
        page->lbResurser->item(0)->setCheckState(Qt::Checked);
        page->lbResurser->item(1)->setCheckState(Qt::Checked);
        page->seSekunder->setValue(0);
        click("btnLaggTill");
        page->lbMottagare->setCurrentRow(0);
        QCOMPARE(page->cbEnhet->currentText(), QStringLiteral("Summer i hallen"));
        page->seSekunder->setValue(90);
        click("btnAndra");
        page->cbEnhet->setCurrentText(QStringLiteral("Lampa"));
        click("btnLaggTill");
        page->lbMottagare->setCurrentRow(2);
        click("btnTaBort");
        const QStringList rows{"Summer i hallen: alla resurser, efter 90 s", "Lampa korridor B: R\u00f6ntgen, Labb, genast"};
        QCOMPARE(textsOf(page->lbMottagare), rows);
        QCOMPARE(settings().ReadSetting(section, QStringLiteral("2")), QStringLiteral("ERROR"));
        if (qEnvironmentVariableIsSet("QUVO_SCREENS_DIR")) {
            QDir().mkpath(qEnvironmentVariable("QUVO_SCREENS_DIR"));
            QVERIFY(m_dialog->grab().save(qEnvironmentVariable("QUVO_SCREENS_DIR") + "/receivers_page.png"));
        }

        click("btnSave");
        QCOMPARE(settings().ReadSetting(section, QStringLiteral("1")), QStringLiteral("Summer i hallen;*;90"));
        QCOMPARE(settings().ReadSetting(section, QStringLiteral("2")), QStringLiteral("Lampa korridor B;R\u00f6ntgen,Labb;0"));
        QCOMPARE(m_client->receivers().count(), 2);
        // "Ångra" drops what was not saved; a removal saved empties its key.
        page->lbMottagare->setCurrentRow(1);
        click("btnTaBort");
        click("btnCancel");
        QCOMPARE(textsOf(page->lbMottagare), rows);
        page->lbMottagare->setCurrentRow(1);
        click("btnTaBort");
        click("btnSave");
        QCOMPARE(settings().ReadSetting(section, QStringLiteral("2")), QLatin1String(kSettingMissing));
        QCOMPARE(m_client->receivers().count(), 1);
    }

    void tabsFollowTheConnection()
    {
        FakeCallServer server;
        m_dialog->SetTabs(SettingsPage::ServerSettings);
        m_dialog->show();
        QVERIFY(!tabs()->isTabVisible(1));
        QVERIFY(connectTo(server));
        QTRY_VERIFY(tabs()->isTabVisible(1));
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        server.dropPeer();
        QTRY_VERIFY(!m_client->parts().connection.isActive());
        QCOMPARE(m_dialog->activePage(), SettingsPage::ClientSettings);   // until the next SetTabs
        m_dialog->SetTabs(SettingsPage::ClientSettings);
        QCOMPARE(m_dialog->activePage(), SettingsPage::ServerSettings);
    }
};

QTEST_MAIN(TestSystreg)
#include "tst_systreg.moc"
