#include "common/CommandLine.h"
#include "common/Text.h"

#include <QLocale>

namespace quvo {

namespace {

bool isBlank(QChar c) { return c.unicode() <= 32; }


QString upper(const QString& text) { return QLocale().toUpper(text); }

} // namespace

CommandLine::CommandLine(QStringList params) : m_params(std::move(params)) {}

QStringList CommandLine::splitCommandLine(const QString& text)
{
    QStringList result;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (true) {
        while (i < n && isBlank(text.at(i)))
            ++i;
        if (i >= n)
            break;
        QString param;
        bool quoted = false;
        for (; i < n; ++i) {
            const QChar c = text.at(i);
            if (c == u'"')
                quoted = !quoted;
            else if (!quoted && isBlank(c))
                break;
            else
                param.append(c);
        }
        // A token made only of quotes is an (empty) parameter of its own.
        result.append(param);
    }
    return result;
}

QString CommandLine::GetParamValue(const QString& key, bool upperCase) const
{
    QString prefix = key + u'=';
    if (upperCase)
        prefix = upper(prefix);
    const qsizetype n = prefix.size();
    for (const QString& param : m_params) {
        QString head = param.left(n);
        if (upperCase)
            head = upper(head);
        if (head != prefix)
            continue;
        const QString value = trimControl(param.mid(n));
        return upperCase ? upper(value) : value;
    }
    return QString();
}

QStringList RestartParameters(const QStringList& ownParams, const QStringList& frontEndSwitches)
{
    // Handed over as an argument list: a parameter with blanks stays one.
    QStringList result{QStringLiteral("RESTARTING=1")};
    result.append(frontEndSwitches);
    result.append(ownParams);
    return result;
}

} // namespace quvo
