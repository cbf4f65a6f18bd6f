// The dispatcher on whatever the stream reader makes of any bytes, with the
// real core behind it and a front end that checks that all it would show is
// short enough to show.
#include "FuzzInput.h"

#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "protocol/StreamReader.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace quvo;

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_dispatch: %s\n", what);
        std::abort();
    }
}

// What a box would show, a title, a status: never more than a person reads.
// The longest fixed text around a server's own adds the margin.
constexpr qsizetype kShownMax = kShownTextLimit + 200;

class RecordingUserInterface : public SilentUserInterface {
protected:
    void openInfo(const QString& text) override { require(text.size() <= kShownMax, "a message too long to show"); }
    bool openQuestion(const QString& text) override
    {
        require(text.size() <= kShownMax, "a question too long to show");
        return false;
    }
};

struct Core {
    int argc = 1;
    char name[16] = "fuzz_dispatch";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    RecordingUserInterface ui;
    std::unique_ptr<HardwareClient> client;

    Core()
    {
        qputenv("QUVO_TELLDUS_LIBRARY", "/nonexistent");
        app = std::make_unique<QCoreApplication>(argc, argv);
        dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", dir->filePath("data").toLocal8Bit());
        client = std::make_unique<HardwareClient>(
            ui, QStringList{}, SettingsLocations{dir->filePath("user"), dir->filePath("machine")});
        client->FormCreate();
        auto shown = [](const QString& text) { require(text.size() <= kShownMax, "a title or status too long to show"); };
        QObject::connect(client.get(), &HardwareClient::windowTitleChanged, client.get(), shown);
        QObject::connect(client.get(), &HardwareClient::statusChanged, client.get(), shown);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Core core;
    const fuzz::Input in = fuzz::readInput(data, size);
    if (in.limit == 0)
        return 0;
    protocol::StreamReader reader(in.limit);
    std::vector<protocol::Unit> units;
    auto dispatch = [&] {
        for (protocol::Unit& u : units)
            core.client->parts().dispatcher.DispatchServerText(std::move(u));
        units.clear();
    };
    for (std::string_view piece : fuzz::reads(in)) {
        reader.feed(piece, units);
        dispatch();
    }
    reader.waitElapsed(units);
    dispatch();
    QCoreApplication::processEvents();
    return 0;
}
