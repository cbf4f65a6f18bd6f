#pragma once
// Named visual styles carried inside the program.
#include <QString>
#include <QStringList>

namespace quvo {

// "Windows" (the platform's own look) first, then the named styles.
QStringList availableStyleNames();
// Applies a style by name to the whole application; false (and nothing
// changed) when no style has that name.
bool applyStyle(const QString& name);
QString currentStyleName();

} // namespace quvo
