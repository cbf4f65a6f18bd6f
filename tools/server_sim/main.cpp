// quvo-server-sim: the call server and the update server in one small
// process, for tests and the demo. The first line on stdout is always
// "LISTENING <port>".
#include "CommandInput.h"
#include "SimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>

using namespace quvo::sim;

static int fail(const QString& message)
{
    std::fprintf(stderr, "quvo-server-sim: %s\n", qPrintable(message));
    return 2;
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quvo-server-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the QUVO call server and update server. Commands are read from stdin; type help."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Port, 0 picks a free one."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption hostOpt(QStringLiteral("host"), QStringLiteral("Address to listen on."), QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption versionOpt(QStringLiteral("server-version"), QStringLiteral("Version to report."), QStringLiteral("TEXT"), QStringLiteral("1.10.4"));
    const QCommandLineOption clinicOpt(QStringLiteral("clinic"), QStringLiteral("Clinic name to report."), QStringLiteral("TEXT"), QStringLiteral("Vårdcentralen Demo"));
    const QCommandLineOption scenarioOpt(QStringLiteral("scenario"), QStringLiteral("File of \"<ms> <command>\" lines."), QStringLiteral("FILE"));
    const QCommandLineOption programOpt(QStringLiteral("program-file"), QStringLiteral("File served on GETNEWCLIENT."), QStringLiteral("PATH"));
    const QCommandLineOption chunkOpt(QStringLiteral("chunk-size"), QStringLiteral("Bytes per write of the program file."), QStringLiteral("N"), QStringLiteral("4096"));
    const QCommandLineOption intervalOpt(QStringLiteral("chunk-interval"), QStringLiteral("Milliseconds between those writes."), QStringLiteral("MS"), QStringLiteral("2"));
    const QCommandLineOption updateOpt(QStringLiteral("update-mode"), QStringLiteral("normal, error, cut or silent."), QStringLiteral("MODE"), QStringLiteral("normal"));
    const QCommandLineOption quitOpt(QStringLiteral("quit-after-scenario"), QStringLiteral("Quit once the scenario's last command has run."));
    const QCommandLineOption timeOpt(QStringLiteral("timestamps"), QStringLiteral("Start every printed line with the time of day."));
    parser.addOptions({portOpt, hostOpt, versionOpt, clinicOpt, scenarioOpt, programOpt, chunkOpt, intervalOpt, updateOpt, quitOpt, timeOpt});
    parser.process(app);
    setTimestamps(parser.isSet(timeOpt));

    bool ok = false;
    const uint port = parser.value(portOpt).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("bad --port %1").arg(parser.value(portOpt)));
    QString hostText = parser.value(hostOpt);
    if (hostText == QLatin1String("localhost"))
        hostText = QStringLiteral("127.0.0.1");
    const QHostAddress host(hostText);
    if (host.isNull())
        return fail(QStringLiteral("bad --host %1 (give a numeric address)").arg(hostText));

    SimOptions options;
    options.serverVersion = parser.value(versionOpt);
    options.clinic = parser.value(clinicOpt);
    options.programFile = parser.value(programOpt);
    options.chunkSize = parser.value(chunkOpt).toInt(&ok);
    if (!ok || options.chunkSize < 1)
        return fail(QStringLiteral("bad --chunk-size %1").arg(parser.value(chunkOpt)));
    options.chunkIntervalMs = parser.value(intervalOpt).toInt(&ok);
    if (!ok || options.chunkIntervalMs < 0)
        return fail(QStringLiteral("bad --chunk-interval %1").arg(parser.value(intervalOpt)));
    const auto mode = parseUpdateMode(parser.value(updateOpt));
    if (!mode)
        return fail(QStringLiteral("bad --update-mode %1").arg(parser.value(updateOpt)));
    options.updateMode = *mode;

    CommandInput input;
    const bool withScenario = parser.isSet(scenarioOpt);
    if (withScenario) {
        QString error;
        if (!input.loadScenario(parser.value(scenarioOpt), &error))
            return fail(error);
    } else if (parser.isSet(quitOpt)) {
        std::fprintf(stderr, "quvo-server-sim: --quit-after-scenario without --scenario is ignored\n");
    }

    SimServer server(options);
    if (!server.listen(host, quint16(port)))
        return fail(QStringLiteral("cannot listen on %1:%2: %3").arg(hostText).arg(port).arg(server.errorString()));
    printLine(QStringLiteral("LISTENING %1").arg(server.port()));

    QObject::connect(&input, &CommandInput::line, &server, &SimServer::execute);
    QObject::connect(&server, &SimServer::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (withScenario && parser.isSet(quitOpt))
        QObject::connect(&input, &CommandInput::scenarioFinished, &server, [&server] { server.execute(QStringLiteral("quit")); });
    input.startStdin();
    if (withScenario)
        input.startScenario();
    return app.exec();
}
