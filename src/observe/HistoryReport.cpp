#include "observe/HistoryReport.h"

#include "observe/ObserveTexts.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVariant>
#include <cmath>
#include <cstdio>
#include <vector>

namespace quvo {

namespace {

namespace texts = observe_texts;

const QString kDash = QStringLiteral("-");

QString dateTime(qint64 ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : kDash;
}

// A later time of the same day shows only its clock time.
QString laterTime(qint64 ms, qint64 sameDayAs)
{
    if (!ms)
        return kDash;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    if (sameDayAs && t.date() == QDateTime::fromMSecsSinceEpoch(sameDayAs).date())
        return t.toString(QStringLiteral("HH:mm:ss"));
    return dateTime(ms);
}

QString seconds(qint64 ms) { return QString::number(double(ms) / 1000.0, 'f', 1).replace(u'.', u','); }

QString duration(qint64 from, qint64 to)
{
    if (!from || !to)
        return kDash;
    const qint64 ms = to - from;
    const qint64 s = std::llabs(ms) / 1000;
    const QString sign = ms < 0 ? QStringLiteral("-") : QString();
    if (s < 60)
        return seconds(ms) + QStringLiteral(" s");
    if (s < 3600)
        return sign + QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return sign + QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

QString eventText(const QString& kind, const QString& detail)
{
    if (kind == texts::kEventStarted)
        return QStringLiteral("Programmet startade (version %1)").arg(detail);
    if (kind == texts::kEventEnded)
        return QStringLiteral("Programmet avslutades");
    if (kind == texts::kEventUpdate)
        return QStringLiteral("Ny programversion startad (process %1)").arg(detail);
    if (kind == texts::kEventConnected)
        return QStringLiteral("Ansluten till servern");
    if (kind == texts::kEventLost)
        return QStringLiteral("Anslutningen till servern bröts");
    if (kind == texts::kEventFault)
        return QStringLiteral("Mottagarfel: %1").arg(detail);
    if (kind == texts::kEventRecovered)
        return QStringLiteral("Mottagaren fungerar igen");
    if (kind == texts::kEventLibraryRestarted)
        return QStringLiteral("Telldus-biblioteket startades om");
    return detail.isEmpty() ? kind : kind + QStringLiteral(": ") + detail;
}

QString csvField(QString v)
{
    if (v == kDash)
        return QString();
    if (v.contains(u';') || v.contains(u'"') || v.contains(u'\n')) {
        v.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        return u'"' + v + u'"';
    }
    return v;
}

using Table = std::vector<QStringList>;

void printTable(QTextStream& out, const Table& rows)
{
    std::vector<qsizetype> widths;
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (std::size_t(i) >= widths.size())
                widths.push_back(0);
            widths[std::size_t(i)] = std::max(widths[std::size_t(i)], row[i].size());
        }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        QString line;
        for (qsizetype i = 0; i < rows[r].size(); ++i)
            line += i + 1 < rows[r].size() ? rows[r][i].leftJustified(widths[std::size_t(i)] + 2) : rows[r][i];
        out << line << '\n';
        if (r == 0) {
            qsizetype total = 0;
            for (qsizetype w : widths)
                total += w + 2;
            out << QString(total - 2, u'-') << '\n';
        }
    }
}

} // namespace

int printHistory(const QString& path, const QStringList& args, FILE* outFile, FILE* errFile)
{
    QTextStream out(outFile);
    QTextStream err(errFile);
    bool csv = false;
    QDate since;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--csv") {
            csv = true;
        } else if (args[i] == u"--since" && i + 1 < args.size()) {
            since = QDate::fromString(args[++i], QStringLiteral("yyyy-MM-dd"));
            if (!since.isValid()) {
                err << "quvo-hwclient: --since vill ha ett datum som 2024-03-01, inte " << args[i] << '\n';
                return 2;
            }
        } else if (args[i] != u"--history") {
            err << "quvo-hwclient: okänd parameter till --history: " << args[i] << '\n';
            return 2;
        }
    }
    if (!QFileInfo::exists(path)) {
        err << "quvo-hwclient: ingen historik finns i " << path << '\n';
        return 1;
    }

    const QString connection = QStringLiteral("quvo-history-report");
    int code = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        // The running program writes beside; a reader only reads.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        const qint64 from = since.isValid() ? since.startOfDay().toMSecsSinceEpoch() : 0;
        QSqlQuery calls(db);
        QSqlQuery events(db);
        const bool ok = db.open()
            && calls.prepare(QStringLiteral(
                "SELECT c.resource, c.caller, c.call_time, c.first_seen, r.receiver, r.on_at, r.result,"
                " c.confirmed_at, c.confirmed_by, c.ended FROM calls c LEFT JOIN call_receivers r ON r.call_key = c.key"
                " WHERE c.first_seen >= ? ORDER BY COALESCE(c.call_time, c.first_seen), c.first_seen, r.receiver"))
            && (calls.addBindValue(from), calls.exec())
            && events.prepare(QStringLiteral("SELECT at, kind, detail FROM events WHERE at >= ? ORDER BY at, id"))
            && (events.addBindValue(from), events.exec());
        if (!ok) {
            const QSqlError e = db.isOpen() ? (calls.lastError().isValid() ? calls.lastError() : events.lastError())
                                            : db.lastError();
            err << "quvo-hwclient: historiken i " << path << " kan inte läsas: " << e.text() << '\n';
            code = 1;
        } else {
            Table callRows{{QStringLiteral("Kallad"), QStringLiteral("Resurs"), QStringLiteral("Anropare"),
                            QStringLiteral("Mottagare"), QStringLiteral("På"), QStringLiteral("Till på"),
                            QStringLiteral("Resultat"), QStringLiteral("Bekräftad"), QStringLiteral("Av"),
                            QStringLiteral("Till bekräftelse"), QStringLiteral("Avslutad")}};
            while (calls.next()) {
                const qint64 called = calls.value(2).toLongLong() ? calls.value(2).toLongLong()
                                                                  : calls.value(3).toLongLong();
                const qint64 onAt = calls.value(5).toLongLong();
                const qint64 confirmed = calls.value(7).toLongLong();
                const auto text = [&](int i) {
                    const QString v = calls.value(i).toString();
                    return v.isEmpty() ? kDash : v;
                };
                callRows.push_back({dateTime(called), text(0), text(1), text(4),
                                    csv ? dateTime(onAt) : laterTime(onAt, called),
                                    csv ? (onAt ? seconds(onAt - called) : kDash) : duration(called, onAt), text(6),
                                    csv ? dateTime(confirmed) : laterTime(confirmed, called), text(8),
                                    csv ? (confirmed ? seconds(confirmed - called) : kDash)
                                        : duration(called, confirmed),
                                    csv ? dateTime(calls.value(9).toLongLong())
                                        : laterTime(calls.value(9).toLongLong(), called)});
            }
            Table eventRows{{QStringLiteral("Tid"), QStringLiteral("Händelse")}};
            while (events.next())
                eventRows.push_back({dateTime(events.value(0).toLongLong()),
                                     eventText(events.value(1).toString(), events.value(2).toString())});
            if (csv) {
                QStringList head = callRows[0];
                head[5] += QStringLiteral(" (s)");
                head[9] += QStringLiteral(" (s)");
                out << QStringLiteral("Typ;") << head.join(u';') << QStringLiteral(";Händelse\n");
                for (std::size_t r = 1; r < callRows.size(); ++r) {
                    QStringList fields;
                    for (const QString& f : callRows[r])
                        fields << csvField(f);
                    out << QStringLiteral("kallelse;") << fields.join(u';') << ";\n";
                }
                for (std::size_t r = 1; r < eventRows.size(); ++r)
                    out << QStringLiteral("händelse;") << eventRows[r][0] << QString(11, u';')
                        << csvField(eventRows[r][1]) << '\n';
            } else {
                out << QStringLiteral("Kallelser (%1)\n\n").arg(callRows.size() - 1);
                printTable(out, callRows);
                out << QStringLiteral("\nHändelser (%1)\n\n").arg(eventRows.size() - 1);
                printTable(out, eventRows);
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return code;
}

} // namespace quvo
