#pragma once
// What waits for a person: a message, a question, a balloon, the settings
// dialog. Desktop, headless and test front ends implement it; the core never
// sees a widget. What the core only announces comes as signals instead.
#include "common/Text.h"
#include <QPoint>
#include <QSet>
#include <QString>
#include <vector>

namespace quvo {

enum class SettingsPage { ServerSettings, ClientSettings, Receivers };

enum class Indicator { Red, Green };

// Where a balloon points: a named control's lower middle, or a screen point.
struct BalloonTarget {
    QString control;      // empty: use point
    QPoint point;
};

struct CallableItem { QString name; int id = 0; QString activeFlag; };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Modal; return when the person has closed them. Lone '\r' breaks lines.
    // A text that is open already is not opened again: a server repeating an
    // error must not nest boxes. A question dropped so is answered "no".
    // A text too long for a box is cut for it; the whole of it goes to
    // textCut first.
    void showInfo(const QString& text)
    {
        const QString shown = shownPart(text);
        if (m_open.contains(shown))
            return;
        const Open open(m_open, shown);
        if (shown.size() != text.size())
            textCut(text);
        openInfo(shown);
    }
    bool askYesNo(const QString& text)
    {
        const QString shown = shownPart(text);
        if (m_open.contains(shown))
            return false;
        const Open open(m_open, shown);
        if (shown.size() != text.size())
            textCut(text);
        return openQuestion(shown);
    }
    // kind: 1 error, 2 information, 3 question, otherwise information.
    virtual void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                             const BalloonTarget& target) = 0;
    // Turns to the page, then shows the dialog modally unless it is open.
    virtual void showSettingsDialog(SettingsPage page) = 0;

protected:
    virtual void openInfo(const QString& text) = 0;
    virtual bool openQuestion(const QString& text) = 0;
    // What of a text a box of this front end is given.
    virtual QString shownPart(const QString& text) const { return shownText(text); }
    // Where the whole of a text cut for its box is kept.
    virtual void textCut(const QString& whole) { Q_UNUSED(whole); }

private:
    // The box runs a nested event loop; the text is open until it returns.
    struct Open {
        QSet<QString>& open;
        QString text;
        Open(QSet<QString>& o, const QString& t) : open(o), text(t) { open.insert(text); }
        ~Open() { open.remove(text); }
    };
    QSet<QString> m_open;
};

// Says nothing and answers every question "no"; a base for front ends that
// only care about some of the operations (tests, benchmarks).
class SilentUserInterface : public UserInterface {
public:
    void showBalloon(const QString&, const QString&, int, int, const BalloonTarget&) override {}
    void showSettingsDialog(SettingsPage) override {}

protected:
    void openInfo(const QString&) override {}
    bool openQuestion(const QString&) override { return false; }
};

} // namespace quvo
