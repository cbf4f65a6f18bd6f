#pragma once
// The desktop front end's boxes: messages with Swedish captions, balloons and
// the settings dialog. The windows follow the core's signals themselves.
#include "common/UserInterface.h"
#include <QPointer>

class QWidget;

namespace quvo {

class TfrmQuvoHWMain;
class TfrmSystreg;

class DesktopUi : public UserInterface {
public:
    DesktopUi() = default;
    void setMainWindow(TfrmQuvoHWMain* window) { m_window = window; }
    TfrmQuvoHWMain* mainWindow() const { return m_window; }

    void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs,
                     const BalloonTarget& target) override;
    void showSettingsDialog(SettingsPage page) override;

protected:
    void openInfo(const QString& text) override;
    bool openQuestion(const QString& text) override;
    void textCut(const QString& whole) override;

private:
    TfrmSystreg* dialog() const;
    QWidget* dialogParent() const;
    QWidget* findControl(const QString& name) const;

    QPointer<TfrmQuvoHWMain> m_window;
};

} // namespace quvo
