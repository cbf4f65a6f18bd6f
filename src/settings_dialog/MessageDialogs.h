#pragma once
// The program's standard message dialogs, with their Swedish captions.
#include <QString>

class QCoreApplication;
class QWidget;

namespace quvo {

// Messages break lines with lone carriage returns.
QString lineBreaksFromCr(const QString& text);

// Modal; "Information", information icon, one default button "OK".
void showInfoDialog(const QString& text, QWidget* parent = nullptr);
// Modal; "Fråga", question icon, "Ja" (default) and "Nej"; true for "Ja".
bool askYesNoDialog(const QString& text, QWidget* parent = nullptr);
void showWarningDialog(const QString& text, QWidget* parent = nullptr);   // "Varning"
void showErrorDialog(const QString& text, QWidget* parent = nullptr);     // "Fel"

// Makes the toolkit's own standard buttons and dialogs Swedish for the rest
// of the run. Safe to call more than once.
void installSwedishDialogTexts(QCoreApplication* app);

} // namespace quvo
