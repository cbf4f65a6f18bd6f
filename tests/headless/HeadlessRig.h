#pragma once
// The rig of the tests that run the program as a box without a screen does:
// the real executable, the server simulator and the Telldus simulator, each
// its own process, with settings and data in a folder of the test's own.
#include "common/Paths.h"
#include "common/SettingsStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

class HeadlessRig : public QObject {
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_sim;
    QProcess m_client;
    quint16 m_port = 0;
    QProcessEnvironment m_extraEnv;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath("config"));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_dir->filePath("etc"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir->filePath("data"));
        env.insert(QStringLiteral("QUVO_TELLDUS_LIBRARY"), QStringLiteral(TELLDUS_SIM_PATH));
        env.insert(QStringLiteral("TELLDUS_SIM_DEVICES"), QStringLiteral("1:Lampa"));
        env.insert(QStringLiteral("TELLDUS_SIM_LOG"), m_dir->filePath("telldus.log"));
        for (const QString& key : m_extraEnv.keys())
            env.insert(key, m_extraEnv.value(key));
        return env;
    }

    // Settings of the installation folder the client will run in.
    void writeSetting(const QString& section, const QString& key, const QString& value)
    {
        quvo::SettingsStore store(quvo::SettingsLocations{m_dir->filePath("config/Veltaris"), m_dir->filePath("etc/Veltaris")});
        store.setSettingsFolderKey(quvo::settingsKeyFromFolder(m_dir->path() + QLatin1Char('/')));
        store.WriteSetting(section, key, value);
    }

    void startSim(quint16 port = 0, const QStringList& extra = {})
    {
        m_sim.start(QStringLiteral(SERVER_SIM_PATH), QStringList{QStringLiteral("--port"), QString::number(port)} + extra);
        QVERIFY(m_sim.waitForReadyRead(5000));
        const QByteArray first = m_sim.readLine().trimmed();
        QVERIFY2(first.startsWith("LISTENING "), first.constData());
        m_port = quint16(first.mid(10).toUInt());
    }

    void startClient(QStringList params, const std::function<void(QProcessEnvironment&)>& adjust = {})
    {
        params.prepend(QStringLiteral("--headless"));
        QProcessEnvironment env = environment();
        if (adjust)
            adjust(env);
        m_client.setProcessEnvironment(env);
        m_client.setWorkingDirectory(m_dir->path());
        m_client.start(QStringLiteral(HWCLIENT_PATH), params);
        QVERIFY(m_client.waitForStarted(5000));
    }

    QString clientLog() { return QString::fromUtf8(m_client.readAllStandardError()); }

    bool waitForLog(QString& log, const QString& text, int ms = 8000)
    {
        QElapsedTimer t;
        t.start();
        while (!log.contains(text) && t.elapsed() < ms) {
            m_client.waitForReadyRead(50);
            log += clientLog();
        }
        return log.contains(text);
    }

    QStringList telldusLog() const
    {
        QFile f(m_dir->filePath("telldus.log"));
        QStringList out;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.isEmpty())
                    out << QString::fromLatin1(line.mid(line.indexOf(' ') + 1));
        return out;
    }

    void terminateClientExpectingOne()
    {
        m_client.terminate();
        QVERIFY(m_client.waitForFinished(5000));
        QCOMPARE(m_client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_client.exitCode(), 1);
    }

    void rigInit()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_extraEnv = QProcessEnvironment();
    }
    void rigCleanup()
    {
        for (QProcess* p : {&m_client, &m_sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
        m_client.setStandardErrorFile(QString());
        m_dir.reset();
    }
};
