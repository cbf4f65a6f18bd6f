#pragma once
// A real HardwareClient with a recording front end that opens a TfrmSystreg,
// and an in-process call server that records the frames it receives.
#include "common/Codec.h"
#include "common/ClientIdentity.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ServerConnection.h"
#include "core/UpdateClient.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"
#include "settings_dialog/TfrmSystreg.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>

// The dialog follows the client's signals itself.
class RecordingUi : public quvo::UserInterface {
public:
    quvo::TfrmSystreg* dialog = nullptr;
    QStringList infos;
    QStringList questions;
    int dialogShows = 0;

    void showBalloon(const QString&, const QString&, int, int, const quvo::BalloonTarget&) override {}
    // Modeless here, so that the test keeps running while it is open.
    void showSettingsDialog(quvo::SettingsPage page) override
    {
        ++dialogShows;
        if (!dialog)
            return;
        dialog->SetTabs(page);
        if (!dialog->isVisible())
            dialog->show();
    }

protected:
    void openInfo(const QString& text) override { infos << text; }
    bool openQuestion(const QString& text) override { questions << text; return false; }
};

// Answers the version request and settings requests; records every frame.
class FakeCallServer : public QObject {
public:
    QString version = QStringLiteral("1.10.4");
    QHash<QString, QString> iniValues;   // key -> value for GETINITEXT
    QList<QByteArray> frames;
    int connections = 0;

    FakeCallServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                ++connections;
                m_peer = s;
                m_buffer.clear();
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { onRead(s); });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }

    void send(const QString& text)
    {
        if (m_peer) {
            m_peer->write(quvo::toWire(text));
            m_peer->flush();
        }
    }
    void dropPeer() { if (m_peer) m_peer->disconnectFromHost(); }

    QList<QByteArray> framesWithTag(const char* tag) const
    {
        const QByteArray start = QByteArray("\xA4") + tag + ':';
        QList<QByteArray> out;
        for (const QByteArray& f : frames)
            if (f.startsWith(start))
                out << f;
        return out;
    }
    QByteArray lastFrame(const char* tag) const
    {
        const auto all = framesWithTag(tag);
        return all.isEmpty() ? QByteArray() : all.last();
    }

private:
    void onRead(QTcpSocket* s)
    {
        m_buffer += s->readAll();
        // A client frame is "¤TAG:" ... "TAG¤".
        for (;;) {
            const int start = m_buffer.indexOf('\xA4');
            if (start < 0)
                return;
            const int colon = m_buffer.indexOf(':', start);
            if (colon < 0)
                return;
            const QByteArray tag = m_buffer.mid(start + 1, colon - start - 1);
            const int end = m_buffer.indexOf(tag + '\xA4', colon);
            if (end < 0)
                return;
            const QByteArray frame = m_buffer.mid(start, end + tag.size() + 1 - start);
            m_buffer.remove(0, end + tag.size() + 1);
            frames << frame;
            answer(tag, frame);
        }
    }
    void answer(const QByteArray& tag, const QByteArray& frame)
    {
        if (tag == "GETSERVERVERSION" && !version.isEmpty())
            send(QStringLiteral("¤RETSERVERVERSION:%1:RETSERVERVERSION¤").arg(version));
        if (tag == "GETINITEXT") {
            const QString key = quvo::fromWire(frame.split(':').value(2));
            send(QStringLiteral("¤RETINITEXT:%1:RETINITEXT¤").arg(iniValues.value(key)));
        }
    }

    QTcpServer m_server;
    QTcpSocket* m_peer = nullptr;
    QByteArray m_buffer;
};
