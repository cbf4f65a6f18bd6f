#include "app/TfrmQuvoHWMain.h"

#include "app/DesktopTexts.h"
#include "core/HardwareClient.h"
#include "core/ReceiverSet.h"
#include "settings_dialog/TfrmSystreg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLibrary>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>

// The icons are compiled into this static library; the linker keeps them
// only when something names them.
static void initDesktopResources()
{
    Q_INIT_RESOURCE(desktop);
}

namespace quvo {

namespace {

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

QColor colourOf(Indicator indicator)
{
    return indicator == Indicator::Green ? kGreen : kRed;
}

// Tahoma where it is installed; otherwise the closest narrow sans-serif.
QFont windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

QIcon applicationIcon()
{
    static const bool resourcesReady = (initDesktopResources(), true);
    Q_UNUSED(resourcesReady);
    QIcon icon(QStringLiteral(":/quvo/icons/quvo-hwclient.png"));
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
    return icon;
}

// The tray shows the state on the program's icon: a green or red dot for
// the connection, an amber warning sign for a receiver fault.
QIcon trayIconFor(TfrmQuvoHWMain::TrayState state)
{
    QPixmap pixmap = applicationIcon().pixmap(64, 64);
    if (pixmap.isNull())
        return applicationIcon();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 3));
    if (state == TfrmQuvoHWMain::TrayState::ReceiverFault) {
        const QPolygonF sign({QPointF(48, 30), QPointF(63, 62), QPointF(33, 62)});
        painter.setBrush(QColor(255, 176, 0));
        painter.drawPolygon(sign);
        painter.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(48, 40), QPointF(48, 51));
        painter.drawPoint(QPointF(48, 57));
    } else {
        painter.setBrush(colourOf(state == TfrmQuvoHWMain::TrayState::Connected ? Indicator::Green : Indicator::Red));
        painter.drawEllipse(QRectF(38, 38, 24, 24));
    }
    painter.end();
    return QIcon(pixmap);
}

template <typename T>
T* place(T* widget, const char* name, int x, int y, int w, int h)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

} // namespace

ConnectionShape::ConnectionShape(QWidget* parent)
    : QWidget(parent)
    , m_fill(kRed)
{
    setFixedSize(25, 25);
}

void ConnectionShape::setFill(const QColor& colour)
{
    if (m_fill == colour)
        return;
    m_fill = colour;
    update();
}

void ConnectionShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_fill);
    painter.drawEllipse(QRectF(0.5, 0.5, width() - 1.0, height() - 1.0));
}

DeviceStatusPanel::DeviceStatusPanel(QWidget* parent)
    : QLabel(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAlignment(Qt::AlignCenter);
    // A fault caption with the library's text takes several lines.
    setWordWrap(true);
    setAutoFillBackground(true);
    QFont big = font();
    big.setPixelSize(21);
    setFont(big);
    setFill(kRed);
}

void DeviceStatusPanel::setFill(const QColor& colour)
{
    m_fill = colour;
    // Fixed colours: a theme must not turn the device state unreadable.
    QPalette p = palette();
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
    setStyleSheet(QStringLiteral("QLabel { background-color: %1; color: black; }").arg(colour.name()));
}

void DeviceStatusPanel::mouseDoubleClickEvent(QMouseEvent* event)
{
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

TfrmQuvoHWMain::TfrmQuvoHWMain(HardwareClient& client, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_client(client)
    , m_trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); })
    , m_dialogFactory([](HardwareClient& c, QWidget* p) { return new TfrmSystreg(c, p); })
{
    setObjectName(QStringLiteral("frmQuvoHWMain"));
    setFont(windowFont());
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(applicationIcon());
    buildControls();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }

    connect(&m_client, &HardwareClient::windowTitleChanged, this, &TfrmQuvoHWMain::applyWindowTitle);
    connect(&m_client, &HardwareClient::statusChanged, this, &TfrmQuvoHWMain::setStatusText);
    connect(&m_client, &HardwareClient::indicatorChanged, this, &TfrmQuvoHWMain::setIndicator);
    connect(&m_client, &HardwareClient::deviceStatusChanged, this, &TfrmQuvoHWMain::setDeviceStatus);
    connect(&m_client, &HardwareClient::minimizeWanted, this, &QWidget::showMinimized);
    connect(&m_client, &HardwareClient::notice, this, &TfrmQuvoHWMain::showTrayNotice);
    // A slow download must look alive.
    connect(&m_client, &HardwareClient::downloadProgress, this,
            [this](qint64 bytes) { setStatusText(QStringLiteral("Hämtar ny version: %L1 byte").arg(bytes)); });
    connect(&m_client, &HardwareClient::quitStarted, this, &TfrmQuvoHWMain::onQuitStarted);
    connect(&m_client, &HardwareClient::activationRestored, this, &TfrmQuvoHWMain::showRestoredActivation);
    connect(&m_client, &HardwareClient::deviceNameRestored, this, &TfrmQuvoHWMain::showRestoredName);
    connect(&m_client, &HardwareClient::deviceNameWanted, this, [this] { Edit1->setFocus(); });
    connect(&m_client, &HardwareClient::receiverFaultChanged, this, &TfrmQuvoHWMain::setReceiverFault);
    connect(&m_client, &HardwareClient::receiversChanged, this, &TfrmQuvoHWMain::showOtherReceivers);
    connect(&m_client, &HardwareClient::otherReceiverStatusChanged, this, &TfrmQuvoHWMain::showOtherReceivers);
    connect(&m_client, &HardwareClient::otherReceiverFaultChanged, this, &TfrmQuvoHWMain::showOtherReceivers);
}

TfrmQuvoHWMain::~TfrmQuvoHWMain()
{
    delete m_dialog.data();
}

void TfrmQuvoHWMain::buildControls()
{
    using namespace desktop_texts;

    Panel1 = place(new QFrame(this), "Panel1", 0, 0, kClientWidth, 41);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    BitBtn1 = place(new QPushButton(kSettingsButton, Panel1), "BitBtn1", 8, 8, 113, 25);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmQuvoHWMain::BitBtn1Click);

    // Device status on the left, name and activation options on the right.
    Label3 = place(new QLabel(kStatusLabel, this), "Label3", 8, 50, 152, 15);
    Panel4 = place(new DeviceStatusPanel(this), "Panel4", 8, 67, 152, 102);
    Panel4->setText(kNotConnected);
    connect(Panel4, &DeviceStatusPanel::doubleClicked, this, [this] { m_client.switchByHand(); });

    Label2 = place(new QLabel(kDeviceNameLabel, this), "Label2", 168, 50, 247, 15);
    Edit1 = place(new QLineEdit(this), "Edit1", 168, 67, 171, 23);
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& text) { m_client.setDeviceName(text); });
    BitBtn2 = place(new QPushButton(kConnectButton, this), "BitBtn2", 343, 66, 72, 25);
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    connect(BitBtn2, &QPushButton::clicked, this, &TfrmQuvoHWMain::connectDevice);

    GroupBox1 = place(new QGroupBox(kActivationGroup, this), "GroupBox1", 168, 95, 247, 104);
    RadioButton1 = place(new QRadioButton(kSecondsMode, GroupBox1), "RadioButton1", 8, 18, 118, 22);
    SpinEdit1 = place(new QSpinBox(GroupBox1), "SpinEdit1", 128, 18, 52, 22);
    SpinEdit1->setRange(1, 999);
    SpinEdit1->setValue(2);
    Label4 = place(new QLabel(kSecondsUnit, GroupBox1), "Label4", 185, 21, 58, 15);
    RadioButton2 = place(new QRadioButton(kUntilConfirmedMode, GroupBox1), "RadioButton2", 8, 44, 236, 22);
    RadioButton2->setChecked(true);
    CheckBox1 = place(new QCheckBox(kBlink, GroupBox1), "CheckBox1", 8, 72, 86, 22);
    SpinEdit2 = place(new QSpinBox(GroupBox1), "SpinEdit2", 96, 72, 60, 22);
    SpinEdit2->setRange(100, 5000);
    SpinEdit2->setValue(500);
    Label5 = place(new QLabel(kBlinkUnit, GroupBox1), "Label5", 161, 75, 82, 15);

    // Both radio buttons share the one mode handler.
    const auto modeClicked = [this] { m_client.setActivationSecondsMode(RadioButton1->isChecked()); };
    connect(RadioButton1, &QRadioButton::clicked, this, modeClicked);
    connect(RadioButton2, &QRadioButton::clicked, this, modeClicked);
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this](int seconds) { m_client.setActivationSeconds(seconds); });
    connect(SpinEdit2, &QSpinBox::valueChanged, this, [this](int ms) { m_client.setBlinkInterval(ms); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this](bool checked) { m_client.setBlink(checked); });

    lblMottagare = place(new QLabel(kOtherReceiversLabel, this), "lblMottagare", 8, 203, 407, 15);
    lbMottagare = place(new QListWidget(this), "lbMottagare", 8, 220, 407, kReceiversHeight - 24);
    lblMottagare->hide();
    lbMottagare->hide();

    Panel3 = place(new QFrame(this), "Panel3", 0, kClientHeight - 29, kClientWidth, 29);
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    shServerConnected = place(new ConnectionShape(Panel3), "shServerConnected", 3, 2, 25, 25);
    Label1 = place(new QLabel(kNotConnected, Panel3), "Label1", 34, 7, 300, 15);
    Button7 = place(new QPushButton(kCloseButton, Panel3), "Button7", kClientWidth - 78, 2, 75, 25);
    Button7->setToolTip(kCloseHint);
    connect(Button7, &QPushButton::clicked, this, &TfrmQuvoHWMain::Button7Click);

    // F10 opens the settings whatever control of the window has the focus.
    auto* settingsKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(settingsKey, &QShortcut::activated, this, &TfrmQuvoHWMain::BitBtn1Click);

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    Avsluta1 = PopupMenu2->addAction(kQuitMenu);
    Avsluta1->setObjectName(QStringLiteral("Avsluta1"));
    connect(Avsluta1, &QAction::triggered, this, &TfrmQuvoHWMain::Avsluta1Click);

    TrayIcon1 = new QSystemTrayIcon(this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setContextMenu(PopupMenu2);
    updateTrayIcon();
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            TrayIcon1DblClick();
    });
}

void TfrmQuvoHWMain::FormCreate()
{
    applyWindowTitle(m_client.windowTitle());
    m_client.FormCreate();
    TrayIcon1->show();
}

void TfrmQuvoHWMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // After the window is on screen, so that the first message has a parent to sit on.
    if (!m_firstActivationDone)
        QTimer::singleShot(0, this, &TfrmQuvoHWMain::FormActivate);
}

void TfrmQuvoHWMain::FormActivate()
{
    if (m_firstActivationDone || m_closing)
        return;
    m_firstActivationDone = true;
    if (!m_dialog && m_dialogFactory) {
        m_dialog = m_dialogFactory(m_client, this);
        if (m_dialog)
            emit settingsDialogCreated(m_dialog);
    }
    m_client.FormActivate();
}

void TfrmQuvoHWMain::showRestoredName(const QString& name)
{
    const QSignalBlocker block(Edit1);
    Edit1->setText(name);
}

void TfrmQuvoHWMain::showRestoredActivation()
{
    const HardwareClient::ActivationChoice a = m_client.activationChoice();
    const QSignalBlocker b1(SpinEdit1);
    const QSignalBlocker b2(SpinEdit2);
    const QSignalBlocker b3(CheckBox1);
    const QSignalBlocker b4(RadioButton1);
    const QSignalBlocker b5(RadioButton2);
    SpinEdit1->setValue(a.seconds);
    SpinEdit2->setValue(a.blinkIntervalMs);
    CheckBox1->setChecked(a.blink);
    if (a.secondsMode)
        RadioButton1->setChecked(true);
    else
        RadioButton2->setChecked(true);
}

void TfrmQuvoHWMain::connectDevice()
{
    m_client.connectDevice();
}

void TfrmQuvoHWMain::BitBtn1Click()
{
    m_client.openSettings();
}

void TfrmQuvoHWMain::Button7Click()
{
    close();
}

void TfrmQuvoHWMain::Avsluta1Click()
{
    m_quitRequested = true;
    close();
}

void TfrmQuvoHWMain::requestQuit()
{
    m_quitRequested = true;
    close();
}

void TfrmQuvoHWMain::TrayIcon1DblClick()
{
    if (m_closing)
        return;
    show();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    callForegroundHook();
}

void TfrmQuvoHWMain::callForegroundHook()
{
    const QDir here = QDir::current();
    QString file;
    for (const QString& name : {desktop_texts::kHookLibraryUnix, desktop_texts::kHookLibraryWindows}) {
        if (QFileInfo::exists(here.filePath(name))) {
            file = here.absoluteFilePath(name);
            break;
        }
    }
    if (file.isEmpty())
        return;
    QLibrary hook(file);
    using SetForeground = long (*)(void*);
    auto fn = reinterpret_cast<SetForeground>(hook.resolve("QVSetForeGroundWindow"));
    if (fn)
        fn(reinterpret_cast<void*>(winId()));
    // The library stays loaded: it may keep state between calls.
}

void TfrmQuvoHWMain::closeEvent(QCloseEvent* event)
{
    if (!m_quitRequested) {
        event->ignore();
        // Without a notification area a hidden window could not be brought back.
        if (m_trayAvailable && m_trayAvailable())
            hide();
        else
            showMinimized();
        return;
    }
    event->accept();
    FormClose();
}

void TfrmQuvoHWMain::FormClose()
{
    if (m_closing)
        return;
    m_closing = true;
    TrayIcon1->hide();
    if (m_dialog) {
        m_dialog->hide();
        m_dialog->deleteLater();
        m_dialog = nullptr;
    }
    m_client.quit();
}

void TfrmQuvoHWMain::onQuitStarted()
{
    // The core quits by itself (a completed update): close the window too.
    m_quitRequested = true;
    if (!m_closing)
        close();
}

void TfrmQuvoHWMain::setStatusText(const QString& text)
{
    Label1->setText(text);
    m_statusText = text;
    updateTrayIcon();
}

void TfrmQuvoHWMain::setIndicator(Indicator colour)
{
    m_indicator = colour;
    shServerConnected->setFill(colourOf(colour));
    updateTrayIcon();
}

void TfrmQuvoHWMain::setDeviceStatus(const QString& caption, Indicator colour)
{
    Panel4->setText(caption);
    Panel4->setFill(colourOf(colour));
}

void TfrmQuvoHWMain::setReceiverFault(bool fault, const QString& caption)
{
    m_receiverFault = fault;
    m_faultCaption = caption;
    updateTrayIcon();
}

void TfrmQuvoHWMain::showOtherReceivers()
{
    const std::vector<ReceiverSet::View> views = m_client.receivers().views();
    const bool any = !views.empty();
    // Without other receivers the window is as it always was.
    const int height = kClientHeight + (any ? kReceiversHeight : 0);
    if (this->height() != height) {
        setFixedSize(kClientWidth, height);
        Panel3->move(0, height - 29);
    }
    lblMottagare->setVisible(any);
    lbMottagare->setVisible(any);
    lbMottagare->clear();
    m_otherFaults.clear();
    for (const ReceiverSet::View& v : views) {
        const QString caption = v.caption.isEmpty() ? QStringLiteral("-") : v.caption;
        auto* row = new QListWidgetItem(desktop_texts::kOtherReceiverRow.arg(v.name, caption), lbMottagare);
        QPixmap dot(10, 10);
        dot.fill(colourOf(v.green ? Indicator::Green : Indicator::Red));
        row->setIcon(QIcon(dot));
        if (v.fault) {
            row->setToolTip(v.faultReason);
            m_otherFaults << desktop_texts::kOtherReceiverRow.arg(v.name, v.faultReason);
        }
    }
    updateTrayIcon();
}

TfrmQuvoHWMain::TrayState TfrmQuvoHWMain::trayState() const
{
    if (m_indicator != Indicator::Green)
        return TrayState::NotConnected;
    return m_receiverFault || !m_otherFaults.isEmpty() ? TrayState::ReceiverFault : TrayState::Connected;
}

void TfrmQuvoHWMain::showTrayNotice(const QString& text, bool warning)
{
    m_lastTrayNotice = text;
    TrayIcon1->showMessage(desktop_texts::kApplicationTitle, text,
                           warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, 10000);
}

void TfrmQuvoHWMain::applyWindowTitle(const QString& title)
{
    setWindowTitle(title);
}

void TfrmQuvoHWMain::updateTrayIcon()
{
    const TrayState state = trayState();
    if (!m_trayIconDrawn || state != m_trayIconState) {
        TrayIcon1->setIcon(trayIconFor(state));
        m_trayIconState = state;
        m_trayIconDrawn = true;
    }
    QString tip = desktop_texts::kApplicationTitle;
    if (!m_statusText.isEmpty())
        tip += QLatin1Char('\n') + m_statusText;
    if (m_receiverFault)
        tip += QLatin1Char('\n') + desktop_texts::kReceiverFaultTip + m_faultCaption;
    for (const QString& fault : m_otherFaults)
        tip += QLatin1Char('\n') + fault;
    TrayIcon1->setToolTip(tip);
}

} // namespace quvo
