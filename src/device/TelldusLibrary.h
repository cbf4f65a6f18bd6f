#pragma once
// The vendor's Telldus Core library, loaded at run time. Not thread-safe:
// one thread (TelldusWorker's) makes every call.
#include <QLibrary>
#include <QString>
#include <memory>

namespace quvo {

class TelldusLibrary {
public:
    static constexpr int kTurnOn = 1;
    static constexpr int kTurnOff = 2;

    TelldusLibrary();
    ~TelldusLibrary();
    TelldusLibrary(const TelldusLibrary&) = delete;
    TelldusLibrary& operator=(const TelldusLibrary&) = delete;

    // Tries QUVO_TELLDUS_LIBRARY, else libtelldus-core.so.2 then libtelldus-core.so.
    // Returns false with loadError() set when the library or a function is missing.
    bool load();
    bool load(const QString& fileName);
    bool isLoaded() const;
    bool loadAttempted() const;       // a load() has run, whatever its outcome
    QString loadError() const;        // names the library that could not be loaded
    QString libraryName() const;

    void init();
    void close();                     // tdClose; also at destruction when loaded
    int numberOfDevices();            // 0 when not loaded
    int deviceId(int index);          // -1 when not loaded
    QString name(int id);             // UTF-8, copied, handed back with tdReleaseString
    int lastSentCommand(int id, int methods);   // negative: failure
    int turnOn(int id);               // 0 on success, else a negative code
    int turnOff(int id);
    bool hasErrorStrings() const;
    // The library's own text for a code, or empty when it has none.
    QString errorString(int code);

private:
    struct Api;
    std::unique_ptr<Api> m_api;
    QLibrary m_lib;
    QString m_error;
    bool m_attempted = false;
    bool m_closed = false;            // tdClose sent since the last tdInit/load
};

} // namespace quvo
