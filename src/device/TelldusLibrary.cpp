#include "device/TelldusLibrary.h"

#include <QStringList>
#include <memory>

namespace quvo {

struct TelldusLibrary::Api {
    void (*tdInit)() = nullptr;
    void (*tdClose)() = nullptr;
    void (*tdReleaseString)(char*) = nullptr;
    int (*tdGetNumberOfDevices)() = nullptr;
    int (*tdGetDeviceId)(int) = nullptr;
    char* (*tdGetName)(int) = nullptr;
    int (*tdLastSentCommand)(int, int) = nullptr;
    int (*tdTurnOn)(int) = nullptr;
    int (*tdTurnOff)(int) = nullptr;
    char* (*tdGetErrorString)(int) = nullptr;   // optional: older libraries lack it
};

namespace {

const char* const kDefaultFiles[] = {"libtelldus-core.so.2", "libtelldus-core.so"};

template <typename F>
bool resolve(QLibrary& lib, const char* symbol, F& target, QStringList& missing)
{
    target = reinterpret_cast<F>(lib.resolve(symbol));
    if (!target)
        missing << QString::fromLatin1(symbol);
    return target != nullptr;
}

} // namespace

TelldusLibrary::TelldusLibrary() = default;

TelldusLibrary::~TelldusLibrary()
{
    if (isLoaded())
        close();
}

bool TelldusLibrary::load()
{
    const QString chosen = qEnvironmentVariable("QUVO_TELLDUS_LIBRARY");
    if (!chosen.isEmpty())
        return load(chosen);

    QStringList tried;
    for (const char* file : kDefaultFiles) {
        if (load(QString::fromLatin1(file)))
            return true;
        tried << m_error;
    }
    m_error = tried.join(QStringLiteral(", "));
    return false;
}

bool TelldusLibrary::load(const QString& fileName)
{
    m_attempted = true;
    if (isLoaded())
        return true;
    m_error.clear();
    m_lib.setFileName(fileName);
    if (!m_lib.load()) {
        m_error = fileName;
        return false;
    }

    auto api = std::make_unique<Api>();
    QStringList missing;
    resolve(m_lib, "tdInit", api->tdInit, missing);
    resolve(m_lib, "tdClose", api->tdClose, missing);
    resolve(m_lib, "tdReleaseString", api->tdReleaseString, missing);
    resolve(m_lib, "tdGetNumberOfDevices", api->tdGetNumberOfDevices, missing);
    resolve(m_lib, "tdGetDeviceId", api->tdGetDeviceId, missing);
    resolve(m_lib, "tdGetName", api->tdGetName, missing);
    resolve(m_lib, "tdLastSentCommand", api->tdLastSentCommand, missing);
    resolve(m_lib, "tdTurnOn", api->tdTurnOn, missing);
    resolve(m_lib, "tdTurnOff", api->tdTurnOff, missing);
    api->tdGetErrorString = reinterpret_cast<char* (*)(int)>(m_lib.resolve("tdGetErrorString"));
    if (!missing.isEmpty()) {
        // Half a library would switch some things and not others: use none of it.
        m_error = fileName + QStringLiteral(" (") + missing.join(QStringLiteral(", ")) + QLatin1Char(')');
        m_lib.unload();
        return false;
    }
    m_api = std::move(api);
    m_closed = false;
    return true;
}

bool TelldusLibrary::isLoaded() const
{
    return m_api != nullptr;
}

bool TelldusLibrary::loadAttempted() const
{
    return m_attempted;
}

QString TelldusLibrary::loadError() const
{
    return m_error;
}

QString TelldusLibrary::libraryName() const
{
    return m_lib.fileName();
}

void TelldusLibrary::init()
{
    if (!m_api)
        return;
    m_api->tdInit();
    m_closed = false;
}

void TelldusLibrary::close()
{
    if (!m_api || m_closed)
        return;
    m_api->tdClose();
    m_closed = true;
}

int TelldusLibrary::numberOfDevices()
{
    return m_api ? m_api->tdGetNumberOfDevices() : 0;
}

int TelldusLibrary::deviceId(int index)
{
    return m_api ? m_api->tdGetDeviceId(index) : -1;
}

QString TelldusLibrary::name(int id)
{
    if (!m_api)
        return {};
    char* raw = m_api->tdGetName(id);
    if (!raw)
        return {};
    // The library hands out UTF-8 on Linux, whatever the locale.
    const QString text = QString::fromUtf8(raw);
    m_api->tdReleaseString(raw);
    return text;
}

int TelldusLibrary::lastSentCommand(int id, int methods)
{
    return m_api ? m_api->tdLastSentCommand(id, methods) : 0;
}

// A library not loaded has no TellStick to reach.
constexpr int kNotFound = -1;

int TelldusLibrary::turnOn(int id)
{
    return m_api ? m_api->tdTurnOn(id) : kNotFound;
}

int TelldusLibrary::turnOff(int id)
{
    return m_api ? m_api->tdTurnOff(id) : kNotFound;
}

bool TelldusLibrary::hasErrorStrings() const
{
    return m_api && m_api->tdGetErrorString;
}

QString TelldusLibrary::errorString(int code)
{
    if (!hasErrorStrings())
        return {};
    char* raw = m_api->tdGetErrorString(code);
    if (!raw)
        return {};
    const QString text = QString::fromUtf8(raw);
    m_api->tdReleaseString(raw);
    return text;
}

} // namespace quvo
