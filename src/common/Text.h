#pragma once
#include <QString>

namespace quvo {

// Removes characters up to and including the blank (codes 0 to 32) at both
// ends: what the system calls blank, not Unicode white space.
inline QString trimControl(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

} // namespace quvo
