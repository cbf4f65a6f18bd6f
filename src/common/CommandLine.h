#pragma once
// KEY=value parameters of the command line.
#include <QString>
#include <QStringList>

namespace quvo {

class CommandLine {
public:
    CommandLine() = default;
    // Parameters 1..N as the program received them (parameter 0 excluded).
    explicit CommandLine(QStringList params);
    // Splits a Windows-style command line text (blanks and quotes).
    static QStringList splitCommandLine(const QString& text);

    QString GetParamValue(const QString& key, bool upperCase = true) const;
    const QStringList& params() const { return m_params; }
private:
    QStringList m_params;
};

// The arguments for a restarted program: RESTARTING=1, the front end's own
// switches (so that it comes up the same way), then the own parameters.
QStringList RestartParameters(const QStringList& ownParams, const QStringList& frontEndSwitches = {});

} // namespace quvo
