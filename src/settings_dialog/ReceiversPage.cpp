#include "settings_dialog/ReceiversPage.h"

#include "core/HardwareClient.h"
#include "settings_dialog/Balloon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace quvo {

namespace {

const QString kListLabel = QStringLiteral("Mottagare utöver den i huvudfönstret");
const QString kGroup = QStringLiteral("Mottagare");
const QString kDevice = QStringLiteral("Enhetsnamn:");
const QString kResources = QStringLiteral("Resurser:");
const QString kAllResources = QStringLiteral("Alla resurser");
const QString kSeconds = QStringLiteral("Tänds när en kallelse väntat obekräftad i");
const QString kSecondsUnit = QStringLiteral("sekunder");
const QString kAdd = QStringLiteral("Lägg till");
const QString kChange = QStringLiteral("Ändra");
const QString kRemove = QStringLiteral("Ta bort");
const QString kNameRequired = QStringLiteral("Enhetsnamn måste anges!");
const QString kResourceRequired = QStringLiteral("Välj minst en resurs, eller alla resurser!");
const QString kRowAll = QStringLiteral("%1: alla resurser, %2");
const QString kRowSome = QStringLiteral("%1: %2, %3");
const QString kAtOnce = QStringLiteral("genast");
const QString kAfter = QStringLiteral("efter %1 s");

QLabel* labelAt(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

template <typename T>
T* named(T* widget, const char* name, int x, int y, int w, int h)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QString rowText(const ReceiverLine& line)
{
    const QString wait = line.seconds == 0 ? kAtOnce : kAfter.arg(line.seconds);
    return line.allResources ? kRowAll.arg(line.device, wait)
                             : kRowSome.arg(line.device, line.resources.join(QStringLiteral(", ")), wait);
}

} // namespace

ReceiversPage::ReceiversPage(HardwareClient& client, QWidget* parent) : QWidget(parent), m_client(client)
{
    setObjectName(QStringLiteral("tsMottagare"));
    labelAt(this, kListLabel, 8, 8);
    lbMottagare = named(new QListWidget(this), "lbMottagare", 8, 26, 260, 300);

    auto* group = named(new QGroupBox(kGroup, this), "gbMottagare", 278, 16, 284, 310);
    labelAt(group, kDevice, 8, 22);
    cbEnhet = named(new QComboBox(group), "cbEnhet", 8, 40, 266, 22);
    cbEnhet->setEditable(true);
    labelAt(group, kResources, 8, 70);
    chkAllaResurser = named(new QCheckBox(kAllResources, group), "chkAllaResurser", 8, 88, 266, 20);
    lbResurser = named(new QListWidget(group), "lbResurser", 8, 110, 266, 106);
    labelAt(group, kSeconds, 8, 224);
    seSekunder = named(new QSpinBox(group), "seSekunder", 8, 242, 80, 22);
    seSekunder->setRange(0, ReceiverLine::kMaxSeconds);
    labelAt(group, kSecondsUnit, 94, 246);
    btnLaggTill = named(new QPushButton(kAdd, group), "btnLaggTill", 8, 276, 84, 25);
    btnAndra = named(new QPushButton(kChange, group), "btnAndra", 98, 276, 84, 25);
    btnTaBort = named(new QPushButton(kRemove, group), "btnTaBort", 188, 276, 84, 25);
    for (QPushButton* b : {btnLaggTill, btnAndra, btnTaBort})
        b->setAutoDefault(false);

    connect(chkAllaResurser, &QCheckBox::toggled, lbResurser, &QWidget::setDisabled);
    connect(lbMottagare, &QListWidget::currentRowChanged, this, [this] {
        showSelected();
        updateButtons();
    });
    connect(btnLaggTill, &QPushButton::clicked, this, &ReceiversPage::addClicked);
    connect(btnAndra, &QPushButton::clicked, this, &ReceiversPage::changeClicked);
    connect(btnTaBort, &QPushButton::clicked, this, &ReceiversPage::removeClicked);
    // The library's device names, for the person to choose from.
    connect(&m_client, &HardwareClient::deviceNamesLoaded, this, [this](bool, const QStringList& names) {
        const QString typed = cbEnhet->currentText();
        cbEnhet->clear();
        cbEnhet->addItems(names);
        cbEnhet->setCurrentText(typed);
    });
}

void ReceiversPage::load()
{
    m_lines = m_client.receiverLines();
    lbResurser->clear();
    for (const TCallObject& call : m_client.currentCalls())
        addResource(call.CallName, false);
    cbEnhet->setCurrentText(QString());
    chkAllaResurser->setChecked(true);
    seSekunder->setValue(0);
    showLines();
    m_client.requestDeviceNames();
}

void ReceiversPage::save()
{
    m_client.saveReceivers(m_lines);
    load();
}

void ReceiversPage::showLines()
{
    const int row = lbMottagare->currentRow();
    lbMottagare->clear();
    for (const ReceiverLine& line : m_lines)
        lbMottagare->addItem(rowText(line));
    lbMottagare->setCurrentRow(std::min(row, lbMottagare->count() - 1));
    updateButtons();
}

void ReceiversPage::addResource(const QString& name, bool checked)
{
    for (int i = 0; i < lbResurser->count(); ++i) {
        if (lbResurser->item(i)->text().compare(name, Qt::CaseInsensitive) == 0) {
            if (checked)
                lbResurser->item(i)->setCheckState(Qt::Checked);
            return;
        }
    }
    auto* item = new QListWidgetItem(name, lbResurser);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void ReceiversPage::showSelected()
{
    const int row = lbMottagare->currentRow();
    if (row < 0)
        return;
    const ReceiverLine& line = m_lines[std::size_t(row)];
    cbEnhet->setCurrentText(line.device);
    chkAllaResurser->setChecked(line.allResources);
    for (int i = 0; i < lbResurser->count(); ++i)
        lbResurser->item(i)->setCheckState(Qt::Unchecked);
    for (const QString& resource : line.resources)
        addResource(resource, true);
    seSekunder->setValue(line.seconds);
}

// The fields as a line; false, with a balloon, when one is missing.
bool ReceiversPage::edited(ReceiverLine& line)
{
    line.device = cbEnhet->currentText().trimmed();
    if (line.device.isEmpty()) {
        ShowInfoBalloon(kNameRequired, cbEnhet);
        return false;
    }
    line.allResources = chkAllaResurser->isChecked();
    line.resources.clear();
    if (!line.allResources) {
        for (int i = 0; i < lbResurser->count(); ++i)
            if (lbResurser->item(i)->checkState() == Qt::Checked)
                line.resources << lbResurser->item(i)->text();
        if (line.resources.isEmpty()) {
            ShowInfoBalloon(kResourceRequired, lbResurser);
            return false;
        }
    }
    line.seconds = seSekunder->value();
    return true;
}

void ReceiversPage::updateButtons()
{
    btnLaggTill->setEnabled(int(m_lines.size()) < ReceiverSet::kMaxReceivers);
    btnAndra->setEnabled(lbMottagare->currentRow() >= 0);
    btnTaBort->setEnabled(lbMottagare->currentRow() >= 0);
}

void ReceiversPage::addClicked()
{
    ReceiverLine line;
    if (!edited(line))
        return;
    m_lines.push_back(line);
    showLines();
    lbMottagare->setCurrentRow(int(m_lines.size()) - 1);
}

void ReceiversPage::changeClicked()
{
    const int row = lbMottagare->currentRow();
    if (row < 0 || !edited(m_lines[std::size_t(row)]))
        return;
    showLines();
}

void ReceiversPage::removeClicked()
{
    const int row = lbMottagare->currentRow();
    if (row < 0)
        return;
    m_lines.erase(m_lines.begin() + row);
    showLines();
}

} // namespace quvo
