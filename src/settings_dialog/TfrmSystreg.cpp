#include "settings_dialog/TfrmSystreg.h"

#include "core/HardwareClient.h"
#include "settings_dialog/Balloon.h"
#include "settings_dialog/ReceiversPage.h"
#include "settings_dialog/SystregRules.h"
#include "settings_dialog/Themes.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <climits>

namespace quvo {

namespace {

// Texts shown by the dialog.
const QString kCaption = QStringLiteral("Systemregister");
const QString kSpara = QStringLiteral("Spara");
const QString kAngra = QStringLiteral("Ångra");
const QString kAterga = QStringLiteral("Återgå");
const QString kTabServer = QStringLiteral("Serverinställningar/utseende");
const QString kTabClient = QStringLiteral("Klientinställningar");
const QString kTabReceivers = QStringLiteral("Mottagare");
const QString kThemeRestart = QStringLiteral("Du måste starta om programmet för att temat skall ändras.");
const QString kPlaceMissing = QStringLiteral("Plats måste fyllas i!");
const QString kRegisterCaption = QStringLiteral("Lägg till/uppdatera klientuppgifter");
const QString kPlacePanelCaption =
    QStringLiteral("Välj Plats och färg och tryck på \"Lägg till/uppdatera klient...\"");

const QString kSecServer = QStringLiteral("ServerSettings");
const QString kSecClient = QStringLiteral("KlientSettings");
const QString kSecQuvo = QStringLiteral("QUVO");

constexpr int kIdRole = Qt::UserRole;
constexpr int kPageServer = 0;
constexpr int kPageClient = 1;
constexpr int kPageReceivers = 2;   // needs no connection: its tab is always there

int itemId(const QListWidgetItem* item) { return item->data(kIdRole).toInt(); }

QListWidgetItem* copyEntry(const QListWidgetItem* item)
{
    auto* copy = new QListWidgetItem(item->text());
    copy->setData(kIdRole, item->data(kIdRole));
    return copy;
}

// Integer fields take any value; the stored text decides what is shown.
QSpinBox* makeIntegerField(QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setRange(INT_MIN, INT_MAX);
    box->setAccelerated(true);
    // Text that is not a number counts as 0, also once the field loses the
    // focus; the default fix-up would bring the previous value back.
    box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    return box;
}

QLabel* labelAbove(QWidget* parent, const QString& text, int x, int y)
{
    auto* label = new QLabel(text, parent);
    label->move(x, y - 16);
    label->adjustSize();
    return label;
}

QLineEdit* lineEdit(QWidget* parent, const char* name, int x, int y, int width)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(x, y, width, 21);
    return edit;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    // No button answers Enter.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

struct TfrmSystreg::Private {
    TfrmSystreg* q;
    HardwareClient& client;

    QTabWidget* PageControl1 = nullptr;
    QWidget* tsServersettings = nullptr;
    QWidget* tsClientSettings = nullptr;
    ReceiversPage* tsMottagare = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnReturn = nullptr;

    QLineEdit* edServername = nullptr;
    QSpinBox* edServerport = nullptr;
    QLineEdit* edServerver = nullptr;
    QLineEdit* edUpdateServername = nullptr;
    QSpinBox* edUpdateServerport = nullptr;
    QLineEdit* edUpdateServerver = nullptr;
    QComboBox* ComboBox1 = nullptr;

    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QListWidget* ListBox2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLabel* Panel6 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn6 = nullptr;
    QLabel* pnlPlats = nullptr;

    std::int32_t swatchColour = 0xFFFFFF;
    bool FThemeChanged = false;
    bool FClickedSpara = false;
    // The list that the next full resource listing fills; none while closed.
    QPointer<QListWidget> CallablesTargetList;
    int savePauseMs = 1000;
    // Tab changes made by the code must not run the user's tab handler.
    int tabChangesFromCode = 0;

    Private(TfrmSystreg* dialog, HardwareClient& c) : q(dialog), client(c) {}

    void build();
    void buildServerPage();
    void buildClientPage();


    void FormCreate();
    void PageControl1Change();
    void btnSaveClick();
    void btnCancelClick() { PageControl1Change(); }
    void FormClose();

    // Server page
    void fillThemeList();
    void ComboBox1Change() { FThemeChanged = true; }
    void loadServerPage();
    void saveServerPage();

    // Client page
    void loadClientPage();
    void saveClientPage();
    void RadioButton1Click();
    void Edit2Change(const QString& text);
    void BitBtn1Click();
    void moveSelectedToChosen();
    void BitBtn2Click();
    void BitBtn3Click() { moveChosen(-1); }
    void BitBtn4Click() { moveChosen(+1); }
    void moveChosen(int step);
    void BitBtn5Click();
    void BitBtn6Click();
    void setSwatch(std::int32_t colour);
};

void TfrmSystreg::Private::build()
{
    q->setWindowTitle(kCaption);
    q->setModal(true);
    QFont f = q->font();
    f.setFamily(QStringLiteral("Tahoma"));
    f.setPointSize(8);
    if (QFontInfo(f).family() != QLatin1String("Tahoma")) {
        // The fixed layout is made for Tahoma's narrow letters; elsewhere a condensed face keeps it whole.
        f.setFamily(QStringLiteral("DejaVu Sans"));
        f.setStretch(QFont::Condensed);
    }
    q->setFont(f);
    q->setFixedSize(573, 391);
    q->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                      | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    PageControl1 = new QTabWidget(q);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 0, 573, 391 - 31);
    tsServersettings = new QWidget;
    tsServersettings->setObjectName(QStringLiteral("tsServersettings"));
    tsClientSettings = new QWidget;
    tsClientSettings->setObjectName(QStringLiteral("tsClientSettings"));
    PageControl1->addTab(tsServersettings, kTabServer);
    PageControl1->addTab(tsClientSettings, kTabClient);
    tsMottagare = new ReceiversPage(client);
    PageControl1->addTab(tsMottagare, kTabReceivers);

    btnSave = button(q, "btnSave", kSpara);
    btnSave->setGeometry(8, 391 - 31 + 3, 75, 25);
    btnCancel = button(q, "btnCancel", kAngra);
    btnCancel->setGeometry(88, 391 - 31 + 3, 75, 25);
    btnReturn = button(q, "btnReturn", kAterga);
    btnReturn->setGeometry(573 - 8 - 75, 391 - 31 + 3, 75, 25);

    buildServerPage();
    buildClientPage();
    // Under an application style sheet a parent's font does not reach its
    // children, so every control gets it itself.
    for (QWidget* child : q->findChildren<QWidget*>())
        child->setFont(q->font());

    QObject::connect(PageControl1, &QTabWidget::currentChanged, q, [this](int) {
        if (tabChangesFromCode == 0)
            PageControl1Change();
    });
    QObject::connect(btnSave, &QPushButton::clicked, q, [this] { btnSaveClick(); });
    QObject::connect(btnCancel, &QPushButton::clicked, q, [this] { btnCancelClick(); });
    QObject::connect(btnReturn, &QPushButton::clicked, q, [this] { q->reject(); });
}

void TfrmSystreg::Private::buildServerPage()
{
    QWidget* page = tsServersettings;
    labelAbove(page, QStringLiteral("Servernamn/IP-adress:"), 32, 48);
    edServername = lineEdit(page, "edServername", 32, 48, 185);
    edServername->setPlaceholderText(QStringLiteral("Ange serverns namn eller IP-adress i formatet ###.###.###.###"));
    edServername->setToolTip(edServername->placeholderText());

    labelAbove(page, QStringLiteral("Serverport:"), 223, 48);
    edServerport = makeIntegerField(page);
    edServerport->setObjectName(QStringLiteral("edServerport"));
    edServerport->setGeometry(223, 48, 66, 21);

    labelAbove(page, QStringLiteral("Serverversion:"), 296, 48);
    edServerver = lineEdit(page, "edServerver", 296, 48, 73);
    edServerver->setReadOnly(true);

    labelAbove(page, QStringLiteral("Uppdatering Servernamn/IP-adress:"), 32, 96);
    edUpdateServername = lineEdit(page, "edUpdateServername", 32, 96, 185);
    edUpdateServername->setPlaceholderText(
        QStringLiteral("Ange uppdateringsserverns namn eller IP-adress i formatet ###.###.###.###"));
    edUpdateServername->setToolTip(edUpdateServername->placeholderText());

    labelAbove(page, QStringLiteral("Serverport:"), 223, 96);
    edUpdateServerport = makeIntegerField(page);
    edUpdateServerport->setObjectName(QStringLiteral("edUpdateServerport"));
    edUpdateServerport->setGeometry(223, 96, 66, 21);

    labelAbove(page, QStringLiteral("Serverversion:"), 296, 96);
    edUpdateServerver = lineEdit(page, "edUpdateServerver", 296, 96, 73);
    edUpdateServerver->setReadOnly(true);

    labelAbove(page, QStringLiteral("Utseende:"), 32, 144);
    ComboBox1 = new QComboBox(page);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(32, 144, 145, 21);
    // activated: only the user's pick counts as a change.
    QObject::connect(ComboBox1, &QComboBox::activated, q, [this](int) { ComboBox1Change(); });
}

void TfrmSystreg::Private::buildClientPage()
{
    QWidget* page = tsClientSettings;

    GroupBox1 = new QGroupBox(QStringLiteral("Klientnamn"), page);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 16, 231, 129);
    RadioButton1 = new QRadioButton(QStringLiteral("Automatiskt (datornamn +program typ)"), GroupBox1);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->move(16, 24);
    RadioButton1->adjustSize();
    Edit1 = lineEdit(GroupBox1, "Edit1", 32, 43, 169);
    Edit1->setEnabled(false);
    RadioButton2 = new QRadioButton(QStringLiteral("Manuellt"), GroupBox1);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton2->move(16, 76);
    RadioButton2->adjustSize();
    Edit2 = lineEdit(GroupBox1, "Edit2", 32, 95, 169);
    RadioButton1->setChecked(true);
    Edit2->setEnabled(false);

    GroupBox2 = new QGroupBox(QStringLiteral("Resurser att visa/kalla"), page);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(249, 16, 313, 313);
    labelAbove(GroupBox2, QStringLiteral("Alla resurser"), 8, 40);
    ListBox1 = new QListWidget(GroupBox2);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(8, 40, 130, 265);
    labelAbove(GroupBox2, QStringLiteral("Valda resurser"), 166, 40);
    ListBox2 = new QListWidget(GroupBox2);
    ListBox2->setObjectName(QStringLiteral("ListBox2"));
    ListBox2->setGeometry(166, 40, 116, 265);
    for (QListWidget* list : {ListBox1, ListBox2})
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);

    QStyle* style = q->style();
    BitBtn1 = button(GroupBox2, "BitBtn1", QString());
    BitBtn1->setIcon(style->standardIcon(QStyle::SP_ArrowRight));
    BitBtn1->setGeometry(141, 130, 22, 25);
    BitBtn2 = button(GroupBox2, "BitBtn2", QString());
    BitBtn2->setIcon(style->standardIcon(QStyle::SP_ArrowLeft));
    BitBtn2->setGeometry(141, 160, 22, 25);
    BitBtn3 = button(GroupBox2, "BitBtn3", QString());
    BitBtn3->setIcon(style->standardIcon(QStyle::SP_ArrowUp));
    BitBtn3->setGeometry(285, 130, 22, 25);
    BitBtn4 = button(GroupBox2, "BitBtn4", QString());
    BitBtn4->setIcon(style->standardIcon(QStyle::SP_ArrowDown));
    BitBtn4->setGeometry(285, 160, 22, 25);

    GroupBox3 = new QGroupBox(QStringLiteral("Övriga klientuppgifter"), page);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setGeometry(8, 151, 231, 154);
    auto* placeLabel = new QLabel(QStringLiteral("Plats:"), GroupBox3);
    placeLabel->move(16, 24);
    Edit3 = lineEdit(GroupBox3, "Edit3", 16, 43, 185);
    Panel6 = new QLabel(QStringLiteral("Färg"), GroupBox3);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    Panel6->setGeometry(16, 80, 49, 33);
    Panel6->setAlignment(Qt::AlignCenter);
    BitBtn5 = button(GroupBox3, "BitBtn5", QStringLiteral("Välj färg..."));
    BitBtn5->setGeometry(88, 85, 90, 25);
    BitBtn6 = button(GroupBox3, "BitBtn6", kRegisterCaption);
    BitBtn6->setGeometry(16, 119, 201, 25);
    setSwatch(0xFFFFFF);

    pnlPlats = new QLabel(kPlacePanelCaption, page);
    pnlPlats->setObjectName(QStringLiteral("pnlPlats"));
    pnlPlats->setGeometry(248, 16, 313, 313);
    pnlPlats->setAlignment(Qt::AlignCenter);
    pnlPlats->setWordWrap(true);
    pnlPlats->setMargin(16);
    pnlPlats->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnlPlats->setAutoFillBackground(true);
    pnlPlats->raise();

    QObject::connect(RadioButton1, &QRadioButton::clicked, q, [this] { RadioButton1Click(); });
    QObject::connect(RadioButton2, &QRadioButton::clicked, q, [this] { RadioButton1Click(); });
    QObject::connect(Edit2, &QLineEdit::textChanged, q, [this](const QString& t) { Edit2Change(t); });
    QObject::connect(BitBtn1, &QPushButton::clicked, q, [this] { BitBtn1Click(); });
    QObject::connect(BitBtn2, &QPushButton::clicked, q, [this] { BitBtn2Click(); });
    QObject::connect(BitBtn3, &QPushButton::clicked, q, [this] { BitBtn3Click(); });
    QObject::connect(BitBtn4, &QPushButton::clicked, q, [this] { BitBtn4Click(); });
    QObject::connect(BitBtn5, &QPushButton::clicked, q, [this] { BitBtn5Click(); });
    QObject::connect(BitBtn6, &QPushButton::clicked, q, [this] { BitBtn6Click(); });
    QObject::connect(ListBox1, &QListWidget::itemDoubleClicked, q, [this] { BitBtn1Click(); });
    QObject::connect(ListBox2, &QListWidget::itemDoubleClicked, q, [this] { BitBtn2Click(); });
}

// ---- frame ----

void TfrmSystreg::Private::FormCreate()
{
    ComboBox1->clear();
    FClickedSpara = false;
    fillThemeList();
    FThemeChanged = false;
    edUpdateServername->setReadOnly(true);
    edUpdateServerport->setReadOnly(true);
    edUpdateServerport->setButtonSymbols(QAbstractSpinBox::NoButtons);
    ++tabChangesFromCode;
    PageControl1->setCurrentIndex(kPageServer);
    --tabChangesFromCode;
}

void TfrmSystreg::Private::PageControl1Change()
{
    btnSave->setEnabled(true);
    btnCancel->setEnabled(true);
    const int page = PageControl1->currentIndex();
    if (page == kPageServer)
        loadServerPage();
    else if (page == kPageClient)
        loadClientPage();
    else if (page == kPageReceivers)
        tsMottagare->load();
}

void TfrmSystreg::Private::btnSaveClick()
{
    FClickedSpara = true;
    const int page = PageControl1->currentIndex();
    if (page == kPageServer)
        saveServerPage();
    else if (page == kPageClient)
        saveClientPage();
    else if (page == kPageReceivers)
        tsMottagare->save();
}

void TfrmSystreg::Private::FormClose()
{
    CallablesTargetList = nullptr;
    if (FClickedSpara)
        client.connectToServer();
}

void TfrmSystreg::SetTabs(SettingsPage page)
{
    const bool active = m_client.connected();
    const int wanted = page == SettingsPage::ClientSettings ? kPageClient
        : page == SettingsPage::Receivers                   ? kPageReceivers
                                                            : kPageServer;
    ++d->tabChangesFromCode;
    d->PageControl1->setTabVisible(kPageClient, active);
    d->PageControl1->setTabVisible(kPageServer, true);
    d->PageControl1->setTabVisible(kPageReceivers, true);
    if (d->PageControl1->currentIndex() != wanted) {
        d->PageControl1->setCurrentIndex(d->PageControl1->isTabVisible(wanted) ? wanted : kPageServer);
    } else if (!d->PageControl1->isTabVisible(wanted)) {
        // Without a connection the client page has nothing to show or send.
        d->PageControl1->setCurrentIndex(kPageServer);
    }
    --d->tabChangesFromCode;
    d->PageControl1Change();
}

SettingsPage TfrmSystreg::activePage() const
{
    switch (d->PageControl1->currentIndex()) {
    case kPageClient: return SettingsPage::ClientSettings;
    case kPageReceivers: return SettingsPage::Receivers;
    default: return SettingsPage::ServerSettings;
    }
}

void TfrmSystreg::showModalUnlessVisible()
{
    if (!isVisible())
        exec();
}

void TfrmSystreg::setPlacePanelVisible(bool visible)
{
    d->pnlPlats->setVisible(visible);
    if (visible)
        d->pnlPlats->raise();
}

void TfrmSystreg::done(int result)
{
    d->FormClose();
    QDialog::done(result);
}

void TfrmSystreg::setSavePauseMs(int ms)
{
    d->savePauseMs = ms;
}

void TfrmSystreg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // Esc undoes the edits of the page and keeps the dialog open.
        d->btnCancelClick();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// ---- server page ----

void TfrmSystreg::Private::fillThemeList()
{
    ComboBox1->clear();
    ComboBox1->addItems(availableStyleNames());
    QString inUse = currentStyleName();
    if (inUse.isEmpty())
        inUse = QStringLiteral("Windows");
    ComboBox1->setCurrentIndex(ComboBox1->findText(inUse, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void TfrmSystreg::Private::loadServerPage()
{
    QPointer<TfrmSystreg> alive(q);
    SettingsStore& settings = client.settings();
    edServername->setText(settings.ReadSetting(kSecServer, QStringLiteral("ServerName")));
    edServerport->setValue(SettingsStore::toIntDef(settings.ReadSetting(kSecServer, QStringLiteral("ServerPort")), 0));
    edServerver->setText(client.state().ServerVersionText);
    // These two may wait for the server, with events running meanwhile.
    const QString updateName =
        settings.ReadServerSettingDef(kSecServer, QStringLiteral("UpdateServerName"), edServername->text());
    if (!alive)
        return;
    edUpdateServername->setText(updateName);
    const QString updatePort = settings.ReadServerSetting(kSecServer, QStringLiteral("UpdateServerPort"));
    if (!alive)
        return;
    edUpdateServerport->setValue(SettingsStore::toIntDef(updatePort, edServerport->value()));
    edUpdateServerver->setText(client.state().UpdateServerVersionText);
}

void TfrmSystreg::Private::saveServerPage()
{
    SettingsStore& settings = client.settings();
    if (FThemeChanged) {
        settings.WriteSetting(kSecClient, QStringLiteral("Style"), ComboBox1->currentText());
        ShowInfoBalloon(kThemeRestart, q);
    }
    bool ok = false;
    int port = edServerport->cleanText().trimmed().toInt(&ok);
    if (!ok)
        port = 0;
    client.applyServerSettings(edServername->text(), port, savePauseMs);
}

// ---- client page ----

void TfrmSystreg::Private::loadClientPage()
{
    SettingsStore& settings = client.settings();
    Edit2->setText(settings.ReadSettingDef(kSecQuvo, QStringLiteral("ClientName"), QString()));

    const bool automatic = settings.ReadSettingDef(kSecQuvo, QStringLiteral("ClientNameUseDefault"), QStringLiteral("1"))
                           == QLatin1String("1");
    QRadioButton* chosen = automatic ? RadioButton1 : RadioButton2;
    if (!chosen->isChecked()) {
        chosen->setChecked(true);
        RadioButton1Click();
    }
    Edit2->setEnabled(RadioButton2->isChecked());

    Edit1->setText(client.automaticClientName());
    Edit3->setText(client.state().ClientData.FriendlyName);
    setSwatch(client.state().ClientData.Color);

    CallablesTargetList = ListBox1;
    client.requestCallables();
}

void TfrmSystreg::Private::saveClientPage()
{
    SettingsStore& settings = client.settings();
    if (RadioButton1->isChecked()) {
        settings.WriteSetting(kSecQuvo, QStringLiteral("ClientNameUseDefault"), QStringLiteral("1"));
        settings.WriteSetting(kSecQuvo, QStringLiteral("ClientName"), Edit1->text());
    } else {
        settings.WriteSetting(kSecQuvo, QStringLiteral("ClientNameUseDefault"), QStringLiteral("0"));
        settings.WriteSetting(kSecQuvo, QStringLiteral("ClientName"), Edit2->text());
    }
    std::vector<int> ids;
    ids.reserve(ListBox2->count());
    for (int i = 0; i < ListBox2->count(); ++i)
        ids.push_back(itemId(ListBox2->item(i)));
    client.postCallables(ids);
}

void TfrmSystreg::Private::RadioButton1Click()
{
    Edit2->setEnabled(RadioButton2->isChecked());
    client.settings().WriteSetting(kSecQuvo, QStringLiteral("ClientNameUseDefault"),
                                   RadioButton1->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void TfrmSystreg::Private::Edit2Change(const QString& text)
{
    client.settings().WriteSetting(kSecQuvo, QStringLiteral("ClientName"), text);
}

void TfrmSystreg::Private::BitBtn1Click()
{
    if (ListBox1->selectedItems().isEmpty() && ListBox1->currentItem()) {
        // Nothing selected: the focused entry is copied and stays where it is.
        ListBox2->addItem(copyEntry(ListBox1->currentItem()));
        return;
    }
    moveSelectedToChosen();
}

void TfrmSystreg::Private::moveSelectedToChosen()
{
    for (int i = 0; i < ListBox1->count(); ++i) {
        if (ListBox1->item(i)->isSelected())
            ListBox2->addItem(copyEntry(ListBox1->item(i)));
    }
    for (int i = ListBox1->count() - 1; i >= 0; --i) {
        if (ListBox1->item(i)->isSelected())
            delete ListBox1->takeItem(i);
    }
}

void TfrmSystreg::Private::BitBtn2Click()
{
    for (int i = 0; i < ListBox2->count(); ++i) {
        QListWidgetItem* item = ListBox2->item(i);
        if (!item->isSelected())
            continue;
        if (itemId(item) == 1) {
            bool present = false;
            for (int j = 0; j < ListBox1->count() && !present; ++j)
                present = itemId(ListBox1->item(j)) == 1;
            if (present)
                continue;
        }
        ListBox1->addItem(copyEntry(item));
    }
    for (int i = ListBox2->count() - 1; i >= 0; --i) {
        if (ListBox2->item(i)->isSelected())
            delete ListBox2->takeItem(i);
    }
}

void TfrmSystreg::Private::moveChosen(int step)
{
    const int from = ListBox2->currentRow();
    const int to = from + step;
    if (from < 0 || to < 0 || to >= ListBox2->count())
        return;
    const bool fromSelected = ListBox2->item(from)->isSelected();
    const bool toSelected = ListBox2->item(to)->isSelected();
    QListWidgetItem* moved = ListBox2->takeItem(from);
    ListBox2->insertItem(to, moved);
    moved->setSelected(fromSelected);
    ListBox2->item(from)->setSelected(toSelected);
    ListBox2->setCurrentRow(to, QItemSelectionModel::NoUpdate);
}

void TfrmSystreg::Private::setSwatch(std::int32_t colour)
{
    swatchColour = colour;
    const QColor c = systreg::colorFromWindows(colour);
    Panel6->setProperty("windowsColour", colour);
    Panel6->setStyleSheet(
        QStringLiteral("QLabel#Panel6 { background-color: %1; color: %2; border: 1px solid palette(mid); }")
            .arg(c.name(), systreg::captionColourOn(c).name()));
}

void TfrmSystreg::Private::BitBtn5Click()
{
    const QColor picked = QColorDialog::getColor(systreg::colorFromWindows(swatchColour), q);
    if (picked.isValid())
        setSwatch(systreg::windowsFromColor(picked));
}

void TfrmSystreg::Private::BitBtn6Click()
{
    const QString place = Edit3->text();
    if (place.trimmed().isEmpty()) {
        // At the field to fill in, not at the dialog's bottom edge.
        ShowInfoBalloon(kPlaceMissing, Edit3);
        Edit3->setFocus();
        return;
    }
    client.registerClient(place, swatchColour);
}

void TfrmSystreg::LoadAllCallables(const std::vector<CallableItem>& records)
{
    QListWidget* target = d->CallablesTargetList;
    if (!target)
        return;
    target->clear();
    d->ListBox2->clear();
    for (const CallableItem& record : records) {
        auto* item = new QListWidgetItem(systreg::callableEntryText(record.name, record.activeFlag));
        item->setData(kIdRole, record.id);
        target->addItem(item);
    }
    if (systreg::isCurrentServer(m_client.state().ServerVersionText))
        return;
    // An older server does not answer GETSTATIONCALLABLES: the resources in
    // the current call list are the chosen ones.
    for (const TCallObject& call : m_client.currentCalls()) {
        for (int i = 0; i < target->count(); ++i) {
            QListWidgetItem* item = target->item(i);
            if (itemId(item) == call.CallLopnr) {
                item->setSelected(true);
                d->ListBox2->addItem(copyEntry(item));
                break;
            }
        }
    }
    for (int i = target->count() - 1; i >= 0; --i) {
        if (target->item(i)->isSelected())
            delete target->takeItem(i);
    }
    d->CallablesTargetList = nullptr;
}

void TfrmSystreg::SelectStationCallables(const std::vector<int>& ids)
{
    for (int id : ids) {
        for (int i = 0; i < d->ListBox1->count(); ++i) {
            QListWidgetItem* item = d->ListBox1->item(i);
            if (itemId(item) == id) {
                item->setSelected(true);
                d->moveSelectedToChosen();
                break;
            }
        }
    }
}

TfrmSystreg::TfrmSystreg(HardwareClient& client, QWidget* parent)
    : QDialog(parent), d(std::make_unique<Private>(this, client)), m_client(client)
{
    d->build();
    d->FormCreate();

    connect(&client, &HardwareClient::settingsTabsWanted, this, &TfrmSystreg::SetTabs);
    connect(&client, &HardwareClient::settingsRefreshWanted, this, [this] {
        if (isVisible())
            SetTabs(activePage());
    });
    connect(&client, &HardwareClient::settingsClientPageWanted, this, [this] {
        if (isVisible())
            SetTabs(SettingsPage::ClientSettings);
    });
    connect(&client, &HardwareClient::placePanelWanted, this, &TfrmSystreg::setPlacePanelVisible);
    connect(&client, &HardwareClient::callablesLoaded, this, &TfrmSystreg::LoadAllCallables);
    connect(&client, &HardwareClient::stationCallablesLoaded, this, &TfrmSystreg::SelectStationCallables);
}

TfrmSystreg::~TfrmSystreg() = default;

} // namespace quvo
