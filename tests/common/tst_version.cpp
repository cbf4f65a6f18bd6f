// The embedded version block and its reader.
#include "TestSupport.h"

#include "BuildVersion.h"
#include "common/VersionInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace quvo;

namespace {

QList<QPair<QByteArray, QByteArray>> sampleEntries(const QByteArray& fileVersion)
{
    return {{"CompanyName", "Veltaris"},
            {"FileDescription", "Test file"},
            {"FileVersion", fileVersion},
            {"InternalName", "sample"},
            {"LegalCopyright", "\xC2\xA9 Veltaris"},
            {"LegalTradeMarks", "QUVO"},
            {"OriginalFilename", "sample.bin"},
            {"ProductName", "QUVO Windows HardwareClient for TellStick"},
            {"ProductVersion", "1.10.5"},
            {"SpecialBuild", "nightly"}};
}

} // namespace

class VersionTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void ownExecutableCarriesItsBlock();
    void markerOccursOnceInTheExecutable();
    void fileWithoutBlockGivesFallback();
    void generatedBlockWithCommaVersion();
    void fileVersionSplitting_data();
    void fileVersionSplitting();
    void truncatedBlockCountsAsNone();
    void brokenBlockBeforeGoodOneIsSkipped();
    void versionNumber();

private:
    QString writeFile(const QString& name, const QByteArray& bytes);
    std::unique_ptr<QTemporaryDir> m_tmp;
};

void VersionTest::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tmp->isValid());
}

void VersionTest::cleanup()
{
    m_tmp.reset();
}

QString VersionTest::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = m_tmp->filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

void VersionTest::ownExecutableCarriesItsBlock()
{
    const TCEVersionInfo own;
    QVERIFY(own.valid);
    QCOMPARE(own.CompanyName, QStringLiteral("Veltaris"));
    QCOMPARE(own.ProductName, QStringLiteral("QUVO Windows HardwareClient for TellStick"));
    QCOMPARE(own.ProductVersion, buildProductVersion());
    QCOMPARE(buildProductVersion(), QStringLiteral(QUVO_PRODUCT_VERSION));
    QCOMPARE(own.FileVersion, buildProductVersion() + QStringLiteral(".0"));
    QCOMPARE(own.MajorVersion, QStringLiteral(QUVO_VERSION_MAJOR));
    QCOMPARE(own.MinorVersion, QStringLiteral(QUVO_VERSION_MINOR));
    QCOMPARE(own.Release, QStringLiteral(QUVO_VERSION_PATCH));
    QCOMPARE(own.Build, QStringLiteral("0"));
    QVERIFY(own.LegalCopyright.contains(QStringLiteral("© Veltaris")));
    QCOMPARE(own.SpecialBuild, QString());
    QCOMPARE(VersionNumber(own.ProductVersion),
             QStringLiteral(QUVO_VERSION_MAJOR QUVO_VERSION_MINOR QUVO_VERSION_PATCH).toInt());

    const TCEVersionInfo byName(QCoreApplication::applicationFilePath());
    QVERIFY(byName.valid);
    QCOMPARE(byName.FileVersion, own.FileVersion);
}

void VersionTest::markerOccursOnceInTheExecutable()
{
    QFile self(QCoreApplication::applicationFilePath());
    QVERIFY(self.open(QIODevice::ReadOnly));
    const QByteArray bytes = self.readAll();
    const QByteArray marker = versionBlockBeginMarker();
    QCOMPARE(bytes.count(marker), 1);
    QCOMPARE(bytes.count(versionBlockEndMarker()), 1);
}

void VersionTest::fileWithoutBlockGivesFallback()
{
    const QString plain = writeFile(QStringLiteral("plain.bin"), QByteArray(5000, 'a') + "CompanyName=X\0");
    for (const QString& path : {plain, m_tmp->filePath(QStringLiteral("missing")), m_tmp->path(), QString()}) {
        TCEVersionInfo info(path);
        QVERIFY(!info.valid);
        for (const QString* field : {&info.CompanyName, &info.FileDescription, &info.FileVersion, &info.Internalname,
                                     &info.LegalCopyright, &info.LegalTradeMarks, &info.OriginalFilename,
                                     &info.ProductName, &info.ProductVersion, &info.Comments, &info.MajorVersion,
                                     &info.MinorVersion, &info.Release, &info.Build})
            QCOMPARE(*field, QStringLiteral("<info not available>"));
        QCOMPARE(info.SpecialBuild, QString());
        QCOMPARE(VersionNumber(info.ProductVersion), 1000);
    }

    // The same instance reads another file afterwards, and back again.
    TCEVersionInfo info(plain);
    info.GetInfo(writeFile(QStringLiteral("v.bin"), makeVersionBlock(sampleEntries("2.0.1.3"))));
    QVERIFY(info.valid);
    QCOMPARE(info.Build, QStringLiteral("3"));
    info.GetInfo(plain);
    QVERIFY(!info.valid);
    QCOMPARE(info.SpecialBuild, QString());
}

void VersionTest::generatedBlockWithCommaVersion()
{
    QByteArray bytes(3000, '\x7f');
    bytes.append(makeVersionBlock(sampleEntries("1, 10, 4, 15")));
    bytes.append(QByteArray(100, '\0'));
    const TCEVersionInfo info(writeFile(QStringLiteral("comma.bin"), bytes));
    QVERIFY(info.valid);
    QCOMPARE(info.MajorVersion, QStringLiteral("1"));
    QCOMPARE(info.MinorVersion, QStringLiteral(" 10"));
    QCOMPARE(info.Release, QStringLiteral(" 4"));
    QCOMPARE(info.Build, QStringLiteral(" 15"));
    QCOMPARE(info.Comments, QString());   // not in the table
    QCOMPARE(info.LegalCopyright, QStringLiteral("© Veltaris"));
    QCOMPARE(info.SpecialBuild, QStringLiteral("nightly"));
    QCOMPARE(info.ProductVersion, QStringLiteral("1.10.5"));
    QCOMPARE(VersionNumber(info.ProductVersion), 1105);
}

void VersionTest::fileVersionSplitting_data()
{
    QTest::addColumn<QByteArray>("fileVersion");
    QTest::addColumn<QStringList>("parts");
    const QString na = QStringLiteral("<info not available>");
    QTest::newRow("four") << QByteArray("1.10.4.15") << QStringList{"1", "10", "4", "15"};
    QTest::newRow("two") << QByteArray("1.2") << QStringList{"1", "", "", "2"};
    QTest::newRow("three") << QByteArray("1.2.3") << QStringList{"1", "2", "", "3"};
    QTest::newRow("five") << QByteArray("1.2.3.4.5") << QStringList{"1", "2", "3", "4.5"};
    QTest::newRow("dot wins over comma") << QByteArray("1,2.3") << QStringList{"1,2", "", "", "3"};
    QTest::newRow("no separator") << QByteArray("7") << QStringList{na, na, na, na};
    QTest::newRow("empty") << QByteArray() << QStringList{na, na, na, na};
}

void VersionTest::fileVersionSplitting()
{
    QFETCH(QByteArray, fileVersion);
    QFETCH(QStringList, parts);
    const TCEVersionInfo info(writeFile(QStringLiteral("split.bin"), makeVersionBlock(sampleEntries(fileVersion))));
    QVERIFY(info.valid);
    QCOMPARE(info.FileVersion, QString::fromLatin1(fileVersion));
    QCOMPARE((QStringList{info.MajorVersion, info.MinorVersion, info.Release, info.Build}), parts);
}

void VersionTest::truncatedBlockCountsAsNone()
{
    // Cut at every length, so the file ends inside the marker, an entry, the
    // end marker or just before its final zero. A reader that looked past the
    // end would find zeros there and take the block.
    const QByteArray block = makeVersionBlock(sampleEntries("1.2.3.4"));
    const QByteArray head(64, 'z');
    for (qsizetype cut = 1; cut < block.size(); ++cut) {
        const QString path = writeFile(QStringLiteral("cut.bin"), head + block.left(cut));
        const TCEVersionInfo info(path);
        QVERIFY2(!info.valid, qPrintable(QString::number(cut)));
        QCOMPARE(info.CompanyName, QStringLiteral("<info not available>"));
    }
    QVERIFY(TCEVersionInfo(writeFile(QStringLiteral("whole.bin"), head + block)).valid);
}

void VersionTest::brokenBlockBeforeGoodOneIsSkipped()
{
    QByteArray broken = versionBlockBeginMarker();
    broken.append('\0').append("no equals sign here").append('\0');
    const QByteArray good = makeVersionBlock(sampleEntries("9.8.7.6"));
    const TCEVersionInfo info(writeFile(QStringLiteral("two.bin"), broken + good));
    QVERIFY(info.valid);
    QCOMPARE(info.MajorVersion, QStringLiteral("9"));
    QCOMPARE(info.CompanyName, QStringLiteral("Veltaris"));

    // A marker followed by endless entries without an end is given up.
    QByteArray endless = versionBlockBeginMarker();
    endless.append('\0');
    for (int i = 0; i < 5000; ++i)
        endless.append("Key=Value").append('\0');
    endless.append(versionBlockEndMarker()).append('\0');
    QVERIFY(!TCEVersionInfo(writeFile(QStringLiteral("endless.bin"), endless)).valid);
}

void VersionTest::versionNumber()
{
    QCOMPARE(VersionNumber(QStringLiteral("1.10.4")), 1104);
    QCOMPARE(VersionNumber(QStringLiteral("1.10.5")), 1105);
    QCOMPARE(VersionNumber(QStringLiteral("1105")), 1105);
    QCOMPARE(VersionNumber(QStringLiteral("<info not available>")), 1000);
    QCOMPARE(VersionNumber(QString()), 1000);
    QCOMPARE(VersionNumber(QStringLiteral("1.x")), 1000);
}

int runVersionTests(int argc, char** argv)
{
    VersionTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_version.moc"
