#pragma once
// The settings dialog "Systemregister": server settings and theme, and this
// client's name, resources, place, colour and registration.
#include "common/UserInterface.h"
#include <QDialog>
#include <memory>
#include <vector>

namespace quvo {

class HardwareClient;

class TfrmSystreg : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSystreg(HardwareClient& client, QWidget* parent = nullptr);
    ~TfrmSystreg() override;

    void SetTabs(SettingsPage page);
    SettingsPage activePage() const;
    // SetTabs is the caller's; this shows the dialog modally unless it is visible.
    void showModalUnlessVisible();
    void setPlacePanelVisible(bool visible);      // pnlPlats
    void LoadAllCallables(const std::vector<CallableItem>& records);
    void SelectStationCallables(const std::vector<int>& ids);

    // Every closing of the dialog passes here (FormClose).
    void done(int result) override;
    // The wait after saving the server settings; 1000 ms unless a test shortens it.
    void setSavePauseMs(int ms);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
    HardwareClient& m_client;
};

} // namespace quvo
