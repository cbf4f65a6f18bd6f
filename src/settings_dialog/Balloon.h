#pragma once
// The program's balloon hint.
#include <QPoint>
#include <QString>

class QWidget;

namespace quvo {

// kind: 1 error, 2 information, 3 question, otherwise information.
void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs, QWidget* control);
void showBalloon(const QString& title, const QString& text, int kind, int hideAfterMs, const QPoint& screenPoint);
// "Information", kind 2, 5000 ms.
void ShowInfoBalloon(const QString& text, QWidget* control);
void ShowInfoBalloon(const QString& text, const QPoint& screenPoint);

} // namespace quvo
