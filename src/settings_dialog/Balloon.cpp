#include "settings_dialog/Balloon.h"
#include "settings_dialog/MessageDialogs.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace quvo {

namespace {

constexpr int kNotch = 10;       // height of the pointer at the balloon's top edge
constexpr int kNotchInset = 14;  // where the pointer sits from the balloon's left edge

// A tooltip-styled frame whose small pointer at the top touches the target.
class BalloonWidget : public QFrame {
public:
    BalloonWidget()
        : QFrame(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    {
        setObjectName(QStringLiteral("quvoBalloon"));
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        auto* outer = new QHBoxLayout(this);
        outer->setContentsMargins(10, kNotch + 8, 12, 10);
        outer->setSpacing(10);
        m_icon = new QLabel(this);
        m_icon->setAlignment(Qt::AlignTop);
        outer->addWidget(m_icon, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(4);
        m_title = new QLabel(this);
        QFont bold = m_title->font();
        bold.setBold(true);
        m_title->setFont(bold);
        m_text = new QLabel(this);
        m_text->setTextFormat(Qt::PlainText);
        m_text->setWordWrap(false);
        texts->addWidget(m_title);
        texts->addWidget(m_text);
        outer->addLayout(texts);
        m_hideTimer.setSingleShot(true);
        QObject::connect(&m_hideTimer, &QTimer::timeout, this, [this] { hide(); });
    }

    void present(const QString& title, const QString& text, int kind, int hideAfterMs, const QPoint& tip)
    {
        QStyle::StandardPixmap pixmap = QStyle::SP_MessageBoxInformation;
        if (kind == 1)
            pixmap = QStyle::SP_MessageBoxCritical;
        else if (kind == 3)
            pixmap = QStyle::SP_MessageBoxQuestion;
        m_kind = kind;
        m_icon->setPixmap(style()->standardIcon(pixmap).pixmap(32, 32));
        m_title->setText(title);
        m_text->setText(lineBreaksFromCr(text));
        setPalette(tooltipPalette());
        adjustSize();

        QPoint topLeft(tip.x() - kNotchInset, tip.y());
        if (QScreen* screen = QGuiApplication::screenAt(tip)) {
            const QRect area = screen->availableGeometry();
            topLeft.setX(qBound(area.left(), topLeft.x(), qMax(area.left(), area.right() - width())));
            topLeft.setY(qBound(area.top(), topLeft.y(), qMax(area.top(), area.bottom() - height())));
        }
        m_notchX = qBound(6, tip.x() - topLeft.x(), width() - 6 - kNotch);
        move(topLeft);
        show();
        raise();
        update();
        if (hideAfterMs > 0)
            m_hideTimer.start(hideAfterMs);
        else
            m_hideTimer.stop();
    }

    int kind() const { return m_kind; }
    QString titleText() const { return m_title->text(); }
    QString bodyText() const { return m_text->text(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF body = QRectF(rect()).adjusted(0.5, kNotch + 0.5, -0.5, -0.5);
        QPainterPath path;
        path.addRoundedRect(body, 6, 6);
        QPainterPath notch;
        notch.moveTo(m_notchX, 0.5);
        notch.lineTo(m_notchX, kNotch + 2);
        notch.lineTo(m_notchX + kNotch, kNotch + 2);
        notch.closeSubpath();
        path = path.united(notch);
        painter.setPen(QPen(palette().color(QPalette::ToolTipText), 1));
        painter.setBrush(palette().color(QPalette::ToolTipBase));
        painter.drawPath(path);
    }

    void mousePressEvent(QMouseEvent*) override { hide(); }

private:
    static QPalette tooltipPalette()
    {
        QPalette p = QApplication::palette("QToolTip");
        p.setColor(QPalette::WindowText, p.color(QPalette::ToolTipText));
        return p;
    }

    QLabel* m_icon = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_text = nullptr;
    QTimer m_hideTimer;
    int m_notchX = kNotchInset;
    int m_kind = 2;
};

QPointer<BalloonWidget> g_balloon;

BalloonWidget* balloon()
{
    if (!g_balloon) {
        g_balloon = new BalloonWidget;
        // No widget owns it; it goes with the application.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, g_balloon.data(), &QObject::deleteLater);
    }
    return g_balloon;
}

} // namespace

void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs, QWidget* control)
{
    if (!control) {
        showBalloon(title, text, kind, hideAfterMs, QPoint());
        return;
    }
    showBalloon(title, text, kind, hideAfterMs, control->mapToGlobal(QPoint(control->width() / 2, control->height())));
}

void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs, const QPoint& screenPoint)
{
    balloon()->present(title, text, kind, hideAfterMs, screenPoint);
}

void ShowInfoBalloon(const QString& text, QWidget* control)
{
    showBalloon(QStringLiteral("Information"), text, 2, 5000, control);
}

void ShowInfoBalloon(const QString& text, const QPoint& screenPoint)
{
    showBalloon(QStringLiteral("Information"), text, 2, 5000, screenPoint);
}

} // namespace quvo
