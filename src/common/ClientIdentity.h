#pragma once
// The names under which this client is known to the server.
#include <QString>
#include <functional>

namespace quvo {

class SettingsStore;
class UserInterface;

class ClientIdentity {
public:
    using EnvReader = std::function<QString(const char* name)>;
    ClientIdentity(SettingsStore& settings, int programType);

    void setEnvironmentReader(EnvReader reader);     // seam for tests
    void setHostNameSource(std::function<QString()> source);
    void setUserInterface(UserInterface* ui);

    QString GetClientName();
    QString GetClientComputerName();
    bool IsRemoteSession() const;

private:
    SettingsStore& m_settings;
    int m_programType;
    EnvReader m_env;
    std::function<QString()> m_hostName;
    UserInterface* m_ui = nullptr;
};

QString clientTypeName(int programType);   // "Call", "Show", "Admin", "Hardware"

} // namespace quvo
