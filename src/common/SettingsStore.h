#pragma once
// Settings addressed by (section, key): per-user and machine INI files, then
// the server's INI text over the main connection.
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace quvo {

class ServerIniLink;

inline constexpr const char* kSettingMissing = "ERROR";

struct SettingsLocations {
    QString userDir;      // e.g. $XDG_CONFIG_HOME/Veltaris
    QString machineDir;   // first of $XDG_CONFIG_DIRS + /Veltaris
    static SettingsLocations fromEnvironment();
};

class SettingsStore : public QObject {
    Q_OBJECT
public:
    explicit SettingsStore(SettingsLocations where, QObject* parent = nullptr);

    void setSettingsFolderKey(const QString& key);   // from InitPaths
    QString settingsFolderKey() const;
    void setServerLink(ServerIniLink* link);          // the main connection
    void setComputerNameSource(std::function<QString()> source);
    void setIniWaitMs(int ms);                        // 5000 by default; tests shorten it

    QString ReadSetting(const QString& section, const QString& key);
    QString ReadSettingDef(const QString& section, const QString& key, const QString& def);
    QString ReadServerSetting(const QString& section, const QString& key);
    QString ReadServerSettingDef(const QString& section, const QString& key, const QString& def);
    void WriteSetting(const QString& section, const QString& key, const QString& value);

    // Typed helpers on top of the text operations.
    int readInt(const QString& section, const QString& key, int def);
    bool readBool(const QString& section, const QString& key, bool def);
    void writeBool(const QString& section, const QString& key, bool value); // "-1" / "0"

    // Called by the dispatcher for every RETINITEXT.
    void deliverIniReply(const QString& value);

    // The per-user file that holds a section (what a person edits by hand).
    QString userFileFor(const QString& section) const;

    // Text of the last refused machine-wide write.
    QString lastRegistryError() const;

    // Static readers of the value formats.
    static int toIntDef(const QString& text, int def);
    static bool toBoolDef(const QString& text, bool def);

signals:
    void iniReplyArrived();

private:
    // see SettingsStore.cpp
    QString requestIniText(const QString& sectionPath, const QString& key);
    struct Impl;
    SettingsLocations m_where;
    QString m_folderKey;
    ServerIniLink* m_link = nullptr;
    std::function<QString()> m_computerName;
    int m_waitMs = 5000;
    QString m_iniReplyText;
    bool m_iniReplyReceived = false;
    bool m_iniWaitExpired = false;
    QTimer m_socketTimer;
    QString m_lastRegistryError;
};

} // namespace quvo
