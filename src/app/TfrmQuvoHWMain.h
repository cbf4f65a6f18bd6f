#pragma once
// The status window: connection state, the device area and the tray icon.
// Closing it only hides it; the tray menu's "Avsluta" quits.
#include "common/UserInterface.h"
#include "settings_dialog/TfrmSystreg.h"
#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace quvo {

class HardwareClient;

// The round connection indicator.
class ConnectionShape : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionShape(QWidget* parent = nullptr);
    void setFill(const QColor& colour);
    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
};

// The device status panel; a double click switches the device by hand.
class DeviceStatusPanel : public QLabel {
    Q_OBJECT
public:
    explicit DeviceStatusPanel(QWidget* parent = nullptr);
    void setFill(const QColor& colour);
    QColor fill() const { return m_fill; }

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QColor m_fill;
};

class TfrmQuvoHWMain : public QWidget {
    Q_OBJECT
public:
    // What the tray icon shows; a missing connection comes before a receiver
    // fault, since then no call arrives at all.
    enum class TrayState { Connected, NotConnected, ReceiverFault };

    static constexpr int kClientWidth = 423;
    static constexpr int kClientHeight = 234;
    // The list of the other receivers, when there are any.
    static constexpr int kReceiversHeight = 96;

    explicit TfrmQuvoHWMain(HardwareClient& client, QWidget* parent = nullptr);
    ~TfrmQuvoHWMain() override;

    void FormCreate();
    // Runs once, at the first show: creates the settings dialog, then the
    // core's first activation (connect, device lookup).
    void FormActivate();
    bool firstActivationDone() const { return m_firstActivationDone; }

    void BitBtn1Click();
    void Button7Click();
    void Avsluta1Click();
    void TrayIcon1DblClick();
    // The quit path from outside the window: session end, signals, update.
    void requestQuit();
    bool quitRequested() const { return m_quitRequested; }

    // Front-end state, following the core.
    void setStatusText(const QString& text);
    void setIndicator(Indicator colour);
    void setDeviceStatus(const QString& caption, Indicator colour);
    void applyWindowTitle(const QString& title);
    // The receiver cannot be switched; caption says why.
    void setReceiverFault(bool fault, const QString& caption);
    // The other receivers, each with its state and fault.
    void showOtherReceivers();
    // A tray message: the window is hidden most of the day.
    void showTrayNotice(const QString& text, bool warning);
    TrayState trayState() const;
    QString lastTrayNotice() const { return m_lastTrayNotice; }

    TfrmSystreg* settingsDialog() const { return m_dialog; }
    QSystemTrayIcon* trayIcon() const { return TrayIcon1; }
    QMenu* trayMenu() const { return PopupMenu2; }

    // Where no notification area exists, closing minimises instead of hiding;
    // tests replace the probe.
    void setTrayAvailabilityProbe(std::function<bool()> probe) { m_trayAvailable = std::move(probe); }
    // The dialog is created by a factory so that front ends without one can run.
    void setSettingsDialogFactory(std::function<TfrmSystreg*(HardwareClient&, QWidget*)> factory)
    {
        m_dialogFactory = std::move(factory);
    }

signals:
    void settingsDialogCreated(TfrmSystreg* dialog);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void connectDevice();
    void showRestoredActivation();
    void showRestoredName(const QString& name);
    void updateTrayIcon();
    void FormClose();
    void onQuitStarted();
    void callForegroundHook();

    HardwareClient& m_client;
    bool m_quitRequested = false;
    bool m_firstActivationDone = false;
    bool m_closing = false;
    Indicator m_indicator = Indicator::Red;
    QString m_statusText;
    bool m_receiverFault = false;
    QString m_faultCaption;
    QStringList m_otherFaults;      // "name: reason" of each other receiver at fault
    QString m_lastTrayNotice;
    TrayState m_trayIconState = TrayState::NotConnected;
    bool m_trayIconDrawn = false;
    QPointer<TfrmSystreg> m_dialog;
    std::function<bool()> m_trayAvailable;
    std::function<TfrmSystreg*(HardwareClient&, QWidget*)> m_dialogFactory;

public:
    // Components, by the names of the window definition.
    QFrame* Panel1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLabel* Label3 = nullptr;
    DeviceStatusPanel* Panel4 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QLabel* Label4 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QSpinBox* SpinEdit2 = nullptr;
    QLabel* Label5 = nullptr;
    QFrame* Panel3 = nullptr;
    ConnectionShape* shServerConnected = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblMottagare = nullptr;
    QListWidget* lbMottagare = nullptr;
    QPushButton* Button7 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QAction* Avsluta1 = nullptr;
};

} // namespace quvo
