// The dispatcher on whatever the stream reader makes of any bytes, with the
// real core behind it and a front end that says nothing.
#include "FuzzInput.h"

#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "protocol/StreamReader.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

using namespace quvo;

namespace {

struct Core {
    int argc = 1;
    char name[16] = "fuzz_dispatch";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTemporaryDir> dir;
    SilentUserInterface ui;
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
