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

// Longest text from elsewhere (the server's, mostly) that a box, a title or a
// status shows, and most lines of it: a box lays out all it is given on the
// user-interface thread, and nobody reads more.
inline constexpr qsizetype kShownTextLimit = 2000;
inline constexpr qsizetype kShownLineLimit = 40;

// The text cut to those limits, "…" where it was cut.
inline QString shownText(const QString& text, qsizetype limit = kShownTextLimit)
{
    qsizetype keep = qMin(text.size(), limit);
    qsizetype breaks = 0;
    for (qsizetype i = 0; i < keep; ++i) {
        const char16_t c = text.at(i).unicode();
        const bool lineEnd = c == u'\n' || (c == u'\r' && (i + 1 == text.size() || text.at(i + 1) != u'\n'));
        if (lineEnd && ++breaks >= kShownLineLimit) {
            keep = i;
            break;
        }
    }
    if (keep == text.size())
        return text;
    keep = qMin(keep, limit - 1);
    if (keep > 0 && text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

} // namespace quvo
