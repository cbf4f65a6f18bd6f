#include "settings_dialog/MessageDialogs.h"

#include <QApplication>
#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTranslator>

namespace quvo {

namespace {

const QString kTitleWarning = QStringLiteral("Varning");
const QString kTitleError = QStringLiteral("Fel");
const QString kTitleInformation = QStringLiteral("Information");
const QString kTitleQuestion = QStringLiteral("Fråga");
const QString kButtonYes = QStringLiteral("Ja");
const QString kButtonNo = QStringLiteral("Nej");
const QString kButtonOk = QStringLiteral("OK");
const QString kButtonCancel = QStringLiteral("Avbryt");

// Qt's own texts that the program's dialogs can show. Debian ships no
// Swedish catalogue for Qt 6, so the few that matter are carried here.
class SwedishTexts : public QTranslator {
public:
    SwedishTexts()
    {
        auto add = [this](const char* context, const char* source, const QString& text) {
            m_texts.insert(key(context, source), text);
        };
        add("QPlatformTheme", "OK", kButtonOk);
        add("QPlatformTheme", "&Yes", kButtonYes);
        add("QPlatformTheme", "&No", kButtonNo);
        add("QPlatformTheme", "Cancel", kButtonCancel);
        add("QPlatformTheme", "Yes to &All", QStringLiteral("Ja till &alla"));
        add("QPlatformTheme", "N&o to All", QStringLiteral("N&ej till alla"));
        add("QPlatformTheme", "Close", QStringLiteral("Stäng"));
        add("QPlatformTheme", "Save", QStringLiteral("Spara"));
        add("QPlatformTheme", "Apply", QStringLiteral("Verkställ"));
        add("QPlatformTheme", "Abort", QStringLiteral("Avbryt"));
        add("QPlatformTheme", "Retry", QStringLiteral("Försök igen"));
        add("QPlatformTheme", "Ignore", QStringLiteral("Ignorera"));
        add("QPlatformTheme", "Help", QStringLiteral("Hjälp"));
        add("QMessageBox", "Show Details...", QStringLiteral("Visa detaljer..."));
        add("QMessageBox", "Hide Details...", QStringLiteral("Dölj detaljer..."));
        add("QColorDialog", "Select Color", QStringLiteral("Välj färg"));
        add("QColorDialog", "Hu&e:", QStringLiteral("&Nyans:"));
        add("QColorDialog", "&Sat:", QStringLiteral("&Mättn:"));
        add("QColorDialog", "&Val:", QStringLiteral("&Ljush:"));
        add("QColorDialog", "&Red:", QStringLiteral("&Röd:"));
        add("QColorDialog", "&Green:", QStringLiteral("&Grön:"));
        add("QColorDialog", "Bl&ue:", QStringLiteral("Bl&å:"));
        add("QColorDialog", "A&lpha channel:", QStringLiteral("A&lfakanal:"));
        add("QColorDialog", "&HTML:", QStringLiteral("&HTML:"));
        add("QColorDialog", "&Basic colors", QStringLiteral("&Grundfärger"));
        add("QColorDialog", "&Custom colors", QStringLiteral("&Egna färger"));
        add("QColorDialog", "&Add to Custom Colors", QStringLiteral("&Lägg till egna färger"));
        add("QColorDialog", "&Pick Screen Color", QStringLiteral("&Hämta färg från skärmen"));
        add("QLineEdit", "&Undo", QStringLiteral("&Ångra"));
        add("QLineEdit", "&Redo", QStringLiteral("&Gör om"));
        add("QLineEdit", "Cu&t", QStringLiteral("Klipp u&t"));
        add("QLineEdit", "&Copy", QStringLiteral("&Kopiera"));
        add("QLineEdit", "&Paste", QStringLiteral("Klistra &in"));
        add("QLineEdit", "Delete", QStringLiteral("Ta bort"));
        add("QLineEdit", "Select All", QStringLiteral("Markera allt"));
        add("QAbstractSpinBox", "&Step up", QStringLiteral("Stega &upp"));
        add("QAbstractSpinBox", "Step &down", QStringLiteral("Stega &ned"));
        add("QAbstractSpinBox", "&Select All", QStringLiteral("&Markera allt"));
    }

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (!context || !sourceText)
            return QString();
        return m_texts.value(key(context, sourceText));
    }

private:
    static QString key(const char* context, const char* source)
    {
        return QLatin1String(context) + QChar(0) + QString::fromUtf8(source);
    }
    QHash<QString, QString> m_texts;
};

QPointer<SwedishTexts> g_texts;

QMessageBox* makeBox(QMessageBox::Icon icon, const QString& title, const QString& text, QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose, false);
    box->setIcon(icon);
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(lineBreaksFromCr(text));
    return box;
}

void showOkBox(QMessageBox::Icon icon, const QString& title, const QString& text, QWidget* parent)
{
    QPointer<QMessageBox> box = makeBox(icon, title, text, parent);
    QPushButton* ok = box->addButton(kButtonOk, QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    box->exec();
    // The parent may have gone, and the box with it, while the box waited.
    delete box.data();
}

} // namespace

QString lineBreaksFromCr(const QString& text)
{
    QString result = text;
    result.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

void showInfoDialog(const QString& text, QWidget* parent)
{
    showOkBox(QMessageBox::Information, kTitleInformation, text, parent);
}

void showWarningDialog(const QString& text, QWidget* parent)
{
    showOkBox(QMessageBox::Warning, kTitleWarning, text, parent);
}

void showErrorDialog(const QString& text, QWidget* parent)
{
    showOkBox(QMessageBox::Critical, kTitleError, text, parent);
}

bool askYesNoDialog(const QString& text, QWidget* parent)
{
    QPointer<QMessageBox> box = makeBox(QMessageBox::Question, kTitleQuestion, text, parent);
    QPushButton* yes = box->addButton(kButtonYes, QMessageBox::YesRole);
    QPushButton* no = box->addButton(kButtonNo, QMessageBox::NoRole);
    box->setDefaultButton(yes);
    box->setEscapeButton(no);
    box->exec();
    // A box that went with its parent was not answered: that is no.
    if (!box)
        return false;
    const bool answer = box->clickedButton() == yes;
    delete box.data();
    return answer;
}

void installSwedishDialogTexts(QCoreApplication* app)
{
    if (!app || g_texts)
        return;
    g_texts = new SwedishTexts;
    g_texts->setParent(app);
    QCoreApplication::installTranslator(g_texts);
}

} // namespace quvo
