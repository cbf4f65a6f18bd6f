// Codec, command line, folders and address check.
#include "TestSupport.h"

#include "common/Codec.h"
#include "common/CommandLine.h"
#include "common/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace quvo;

class BasicsTest : public QObject {
    Q_OBJECT
private slots:
    void codecMapsTheSwedishLettersAndTheFrameCharacter();
    void codecRoundTripsEveryDefinedByte();
    void codecIsWindows1252NotLatin1();

    void paramValueMatchesKeyPrefixIgnoringCase();
    void paramValueRejectsNearMisses();
    void paramValueTrimsBlanksAndUpperCases();
    void paramValueWithoutUpperCaseKeepsText();
    void splitCommandLineGroupsQuotedBlanks();
    void restartParametersPutRestartingFirst();

    void settingsKeyFromFolder_data();
    void settingsKeyFromFolder();
    void initPathsUsesCanonicalWorkingDirectory();
    void initPathsLeavesUpdateFolderEmptyWhenItCannotBeMade();
    void initPathsFailsWithoutWorkingDirectory();

    void isNumericAddress_data();
    void isNumericAddress();
};

void BasicsTest::codecMapsTheSwedishLettersAndTheFrameCharacter()
{
    const QString text = QStringLiteral("¤åäöÅÄÖ");
    const QByteArray wire = toWire(text);
    QCOMPARE(wire, QByteArray("\xA4\xE5\xE4\xF6\xC5\xC4\xD6"));
    QCOMPARE(fromWire(wire), text);
    const std::string s = toWireString(text);
    QCOMPARE(QByteArray::fromStdString(s), wire);
    QCOMPARE(fromWire(std::string_view(s)), text);
}

void BasicsTest::codecRoundTripsEveryDefinedByte()
{
    // 0x81, 0x8D, 0x8F, 0x90 and 0x9D have no character in this code page.
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
            all.append(char(b));
    const QString text = fromWire(all);
    QCOMPARE(text.size(), all.size());
    QCOMPARE(toWire(text), all);
}

void BasicsTest::codecIsWindows1252NotLatin1()
{
    QCOMPARE(toWire(QStringLiteral("€")), QByteArray("\x80"));
    QCOMPARE(fromWire(QByteArray("\x80\x96")), QStringLiteral("€–"));
}

void BasicsTest::paramValueMatchesKeyPrefixIgnoringCase()
{
    const CommandLine cmd({QStringLiteral("name=Reception 2"), QStringLiteral("NAME=second"),
                           QStringLiteral("Place=Hall")});
    QCOMPARE(cmd.GetParamValue(QStringLiteral("NAME")), QStringLiteral("RECEPTION 2"));
    QCOMPARE(cmd.GetParamValue(QStringLiteral("place")), QStringLiteral("HALL"));
    QCOMPARE(cmd.GetParamValue(QStringLiteral("COLOR")), QString());
    QCOMPARE(CommandLine().GetParamValue(QStringLiteral("NAME")), QString());
}

void BasicsTest::paramValueRejectsNearMisses()
{
    const CommandLine cmd({QStringLiteral("NAMES=x"), QStringLiteral("NAME =y"), QStringLiteral("XNAME=a"),
                           QStringLiteral("NAME"), QStringLiteral("NAM")});
    QCOMPARE(cmd.GetParamValue(QStringLiteral("NAME")), QString());
    const CommandLine empty({QStringLiteral("NAME="), QStringLiteral("NAME=later")});
    QCOMPARE(empty.GetParamValue(QStringLiteral("NAME")), QString());   // the first one wins, even empty
}

void BasicsTest::paramValueTrimsBlanksAndUpperCases()
{
    const CommandLine cmd({QStringLiteral("PLACE=  Hall \t"), QStringLiteral("CALLLIST=\x01 1:0:2:1: \r"),
                           QStringLiteral("NAME=åsa")});
    QCOMPARE(cmd.GetParamValue(QStringLiteral("PLACE")), QStringLiteral("HALL"));
    QCOMPARE(cmd.GetParamValue(QStringLiteral("CALLLIST")), QStringLiteral("1:0:2:1:"));
    QCOMPARE(cmd.GetParamValue(QStringLiteral("NAME")), QStringLiteral("ÅSA"));
}

void BasicsTest::paramValueWithoutUpperCaseKeepsText()
{
    const CommandLine cmd({QStringLiteral("name=lower"), QStringLiteral("NAME= Mixed Case ")});
    QCOMPARE(cmd.GetParamValue(QStringLiteral("NAME"), false), QStringLiteral("Mixed Case"));
}

void BasicsTest::splitCommandLineGroupsQuotedBlanks()
{
    const QStringList parts = CommandLine::splitCommandLine(
        QStringLiteral("  prog.exe \"NAME=Reception 2\"\t\"PLACE=  Hall  \" X\"\"Y \"\" COLOR=25\"5 AB\"C D"));
    const QStringList expected{QStringLiteral("prog.exe"), QStringLiteral("NAME=Reception 2"),
                               QStringLiteral("PLACE=  Hall  "), QStringLiteral("XY"), QString(),
                               QStringLiteral("COLOR=255 ABC"), QStringLiteral("D")};
    QCOMPARE(parts, expected);
    QCOMPARE(CommandLine::splitCommandLine(QStringLiteral(" \t ")), QStringList());

    const CommandLine cmd(parts.mid(1));
    QCOMPARE(cmd.GetParamValue(QStringLiteral("PLACE")), QStringLiteral("HALL"));
    QCOMPARE(cmd.GetParamValue(QStringLiteral("NAME")), QStringLiteral("RECEPTION 2"));
}

void BasicsTest::restartParametersPutRestartingFirst()
{
    const QStringList own{QStringLiteral("NAME=Reception 2"), QStringLiteral("AUTOREGISTER=1")};
    const QStringList expected{QStringLiteral("RESTARTING=1"), QStringLiteral("NAME=Reception 2"),
                               QStringLiteral("AUTOREGISTER=1")};
    QCOMPARE(RestartParameters(own), expected);
    QCOMPARE(RestartParameters({}), QStringList{QStringLiteral("RESTARTING=1")});
    // A headless instance restarts headless.
    QCOMPARE(RestartParameters(own, {QStringLiteral("--headless")}),
             (QStringList{QStringLiteral("RESTARTING=1"), QStringLiteral("--headless"),
                          QStringLiteral("NAME=Reception 2"), QStringLiteral("AUTOREGISTER=1")}));
}

void BasicsTest::settingsKeyFromFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("key");
    QTest::newRow("blanks") << "/opt/QUVO app/" << "_opt_QUVO_app/";
    QTest::newRow("no trailing") << "/opt/QUVO" << "_opt_QUVO/";
    QTest::newRow("root") << "/" << "_/";
    QTest::newRow("windows") << "D:\\Program Files (x86)\\QUVO\\" << "D_Program_Files_(x86)_QUVO/";
    QTest::newRow("drive root") << "D:\\" << "D/";
}

void BasicsTest::settingsKeyFromFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, key);
    QCOMPARE(quvo::settingsKeyFromFolder(folder), key);
}

void BasicsTest::initPathsUsesCanonicalWorkingDirectory()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString real = tmp.path() + QStringLiteral("/QUVO app");
    QVERIFY(QDir().mkpath(real));
    const QString link = tmp.path() + QStringLiteral("/via link");
    QVERIFY(QFile::link(real, link));
    const QString data = tmp.path() + QStringLiteral("/data");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(link));

    const ProgramPaths paths = InitPaths();
    QDir::setCurrent(oldCwd);
    qputenv("XDG_DATA_HOME", oldData);

    const QString canonical = QFileInfo(real).canonicalFilePath();
    QCOMPARE(paths.ProgramFolder, canonical + u'/');
    QCOMPARE(paths.SettingsFolderKey, quvo::settingsKeyFromFolder(canonical + u'/'));
    QVERIFY(!paths.SettingsFolderKey.contains(u' '));
    QCOMPARE(paths.SettingsFolderKey.count(u'/'), 1);
    QCOMPARE(paths.UpdateFolder, data + QStringLiteral("/Veltaris/QUVO/"));
    QVERIFY(QFileInfo(paths.UpdateFolder).isDir());
    QVERIFY(!(QFileInfo(paths.UpdateFolder).permissions() & QFileDevice::WriteOther));
}

void BasicsTest::initPathsLeavesUpdateFolderEmptyWhenItCannotBeMade()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString blocker = tmp.filePath(QStringLiteral("plainfile"));
    QFile f(blocker);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker + QStringLiteral("/data")));
    const ProgramPaths paths = InitPaths();
    qputenv("XDG_DATA_HOME", oldData);
    QCOMPARE(paths.UpdateFolder, QString());
    QVERIFY(!paths.ProgramFolder.isEmpty());
}

void BasicsTest::initPathsFailsWithoutWorkingDirectory()
{
    const QString oldCwd = QDir::currentPath();
    {
        QTemporaryDir gone;
        QVERIFY(QDir::setCurrent(gone.path()));
    }
    QString message;
    try {
        InitPaths();
    } catch (const std::runtime_error& e) {
        message = QString::fromUtf8(e.what());
    }
    QDir::setCurrent(oldCwd);
    QCOMPARE(message, QStringLiteral("Unable to get Current path"));
}

void BasicsTest::isNumericAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("plain") << "10.0.0.1" << true;
    QTest::newRow("extremes") << "0.255.0.255" << true;
    QTest::newRow("leading zeros") << "010.000.0.0001" << true;
    QTest::newRow("fifth part ignored") << "10.0.0.1.7" << true;
    QTest::newRow("fifth part not examined") << "10.0.0.1.x" << true;
    QTest::newRow("256") << "256.1.1.1" << false;
    QTest::newRow("huge") << "1.1.1.99999999999" << false;
    QTest::newRow("three parts") << "1.2.3" << false;
    QTest::newRow("empty part") << "1..2.3" << false;
    QTest::newRow("trailing dot") << "1.2.3." << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("host name") << "quvo.clinic.local.se" << false;
    QTest::newRow("plus sign") << "+1.2.3.4" << false;
    QTest::newRow("minus sign") << "1.-2.3.4" << false;
    QTest::newRow("blank") << "1. 2.3.4" << false;
    QTest::newRow("trailing blank") << "1.2.3.4 " << false;
    QTest::newRow("arabic digits") << "١.2.3.4" << false;
}

void BasicsTest::isNumericAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(IsNumericAddress(text), expected);
}

int runBasicsTests(int argc, char** argv)
{
    BasicsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_basics.moc"
