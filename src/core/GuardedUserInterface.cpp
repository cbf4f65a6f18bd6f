#include "core/GuardedUserInterface.h"

namespace quvo {

void GuardedUserInterface::showInfo(const QString& text)
{
    if (m_open.contains(text))
        return;
    m_open.insert(text);
    // The box runs a nested event loop; the same text arriving meanwhile is dropped above.
    struct Close { QSet<QString>& open; const QString& text; ~Close() { open.remove(text); } } close{m_open, text};
    m_inner.showInfo(text);
}

bool GuardedUserInterface::askYesNo(const QString& text)
{
    if (m_open.contains(text))
        return false;
    m_open.insert(text);
    struct Close { QSet<QString>& open; const QString& text; ~Close() { open.remove(text); } } close{m_open, text};
    return m_inner.askYesNo(text);
}

} // namespace quvo
