#include "CommandInput.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace quvo::sim {

CommandInput::CommandInput(QObject* parent) : QObject(parent) {}

bool CommandInput::loadScenario(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read scenario %1: %2").arg(path, file.errorString());
        return false;
    }
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        const QString text = QString::fromUtf8(file.readLine()).trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype blank = text.indexOf(QLatin1Char(' '));
        bool ok = false;
        const int at = text.left(blank < 0 ? text.size() : blank).toInt(&ok);
        if (!ok || at < 0 || blank < 0) {
            *error = QStringLiteral("%1:%2: expected \"<milliseconds> <command>\"").arg(path).arg(number);
            return false;
        }
        m_steps << Step{at, text.mid(blank + 1).trimmed()};
    }
    // Same time: file order.
    std::stable_sort(m_steps.begin(), m_steps.end(), [](const Step& a, const Step& b) { return a.atMs < b.atMs; });
    return true;
}

void CommandInput::startStdin()
{
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CommandInput::readStdin);
}

void CommandInput::startScenario()
{
    for (const Step& step : m_steps)
        QTimer::singleShot(step.atMs, this, [this, command = step.command] { emit line(command); });
    const int last = m_steps.isEmpty() ? 0 : m_steps.last().atMs;
    // Queued after the last step's own timer.
    QTimer::singleShot(last, this, [this] { emit scenarioFinished(); });
}

void CommandInput::readStdin()
{
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // End of input (or /dev/null): the server keeps running without it.
        m_notifier->setEnabled(false);
        if (!m_pending.isEmpty())
            emit line(QString::fromUtf8(m_pending));
        m_pending.clear();
        return;
    }
    m_pending.append(buffer, n);
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray one = m_pending.left(end);
        m_pending.remove(0, end + 1);
        emit line(QString::fromUtf8(one).remove(QLatin1Char('\r')));
    }
}

} // namespace quvo::sim
