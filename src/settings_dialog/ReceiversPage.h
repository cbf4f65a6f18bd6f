#pragma once
// The page "Mottagare" of the settings dialog: the receivers besides the one
// in the main window, each with its device, resources and waiting time.
// Edits stay on the page until "Spara".
#include "core/ReceiverSet.h"

#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace quvo {

class HardwareClient;

class ReceiversPage : public QWidget {
    Q_OBJECT
public:
    explicit ReceiversPage(HardwareClient& client, QWidget* parent = nullptr);

    void load();   // from the settings, dropping what was not saved
    void save();
    const std::vector<ReceiverLine>& lines() const { return m_lines; }

    // The controls, by name.
    QListWidget* lbMottagare = nullptr;
    QComboBox* cbEnhet = nullptr;
    QCheckBox* chkAllaResurser = nullptr;
    QListWidget* lbResurser = nullptr;
    QSpinBox* seSekunder = nullptr;
    QPushButton* btnLaggTill = nullptr;
    QPushButton* btnAndra = nullptr;
    QPushButton* btnTaBort = nullptr;

private:
    void showLines();
    void showSelected();
    bool edited(ReceiverLine& line);
    void addResource(const QString& name, bool checked);
    void updateButtons();
    void addClicked();
    void changeClicked();
    void removeClicked();

    HardwareClient& m_client;
    std::vector<ReceiverLine> m_lines;
};

} // namespace quvo
