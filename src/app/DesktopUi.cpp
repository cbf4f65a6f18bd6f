#include "app/DesktopUi.h"

#include "app/TfrmQuvoHWMain.h"
#include "settings_dialog/Balloon.h"
#include "settings_dialog/MessageDialogs.h"
#include "settings_dialog/TfrmSystreg.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>

namespace quvo {

TfrmSystreg* DesktopUi::dialog() const
{
    return m_window ? m_window->settingsDialog() : nullptr;
}

QWidget* DesktopUi::dialogParent() const
{
    // A box over the open dialog stays in front of it; a hidden main window
    // would only hide the box's taskbar entry.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (m_window && m_window->isVisible())
        return m_window;
    return nullptr;
}

QWidget* DesktopUi::findControl(const QString& name) const
{
    // Both windows have controls of the same names: the open dialog comes first.
    QList<QWidget*> windows;
    TfrmSystreg* d = dialog();
    if (d && d->isVisible())
        windows << d;
    if (m_window)
        windows << m_window;
    if (d && !d->isVisible())
        windows << d;
    for (QWidget* w : windows) {
        if (w->objectName() == name)
            return w;
        if (auto* control = w->findChild<QWidget*>(name))
            return control;
    }
    return nullptr;
}

// The box shows the beginning; the whole text goes to the program's log.
void DesktopUi::textCut(const QString& whole)
{
    QString line = whole;
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    qInfo().noquote() << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"))
                      << QStringLiteral("INFO (hela texten):") << line;
}

void DesktopUi::openInfo(const QString& text)
{
    showInfoDialog(text, dialogParent());
}

bool DesktopUi::openQuestion(const QString& text)
{
    return askYesNoDialog(text, dialogParent());
}

void DesktopUi::showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                            const BalloonTarget& target)
{
    if (!target.control.isEmpty()) {
        if (QWidget* control = findControl(target.control)) {
            quvo::showBalloon(title, text, kind, hideAfterMs, control);
            return;
        }
    }
    quvo::showBalloon(title, text, kind, hideAfterMs, target.point);
}

void DesktopUi::showSettingsDialog(SettingsPage page)
{
    QPointer<TfrmSystreg> d = dialog();
    if (!d)
        return;
    d->SetTabs(page);
    if (d)
        d->showModalUnlessVisible();
}

} // namespace quvo
