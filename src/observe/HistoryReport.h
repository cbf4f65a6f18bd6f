#pragma once
// quvo-hwclient --history [--since YYYY-MM-DD] [--csv]: the call history
// as a table (or ;-separated values) with local times, also while the
// program that writes it runs.
#include <QString>
#include <QStringList>
#include <cstdio>

namespace quvo {

// 0 when printed; 1 when the file cannot be read; 2 for wrong parameters.
int printHistory(const QString& path, const QStringList& args, FILE* out = stdout, FILE* err = stderr);

} // namespace quvo
