// Reading and dispatching one block full of frames, unclosed frame openings
// or error texts, without sockets: the bytes go through the stream reader in
// reads of one TCP segment, the units through the real dispatcher with a
// silent front end. Time and memory must grow linearly with the block.
//
// peak_heap_MiB: the most memory held at once through operator new during
// one dispatch, above what was held before it (the reader's and the
// dispatcher's strings and vectors; Qt's own strings use malloc and are not
// counted).
#include "common/SettingsStore.h"
#include "common/UserInterface.h"
#include "common/ClientIdentity.h"
#include "core/Dispatcher.h"
#include "core/HardwareClient.h"
#include "core/ServerConnection.h"
#include "core/UpdateClient.h"
#include "device/Activation.h"
#include "device/DeviceController.h"
#include "device/TelldusWorker.h"
#include "protocol/StreamReader.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <malloc.h>
#include <new>

namespace {

std::size_t g_heldNow = 0;
std::size_t g_heldPeak = 0;

} // namespace

void* operator new(std::size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    g_heldNow += malloc_usable_size(p);
    if (g_heldNow > g_heldPeak)
        g_heldPeak = g_heldNow;
    return p;
}

void operator delete(void* p) noexcept
{
    if (!p)
        return;
    g_heldNow -= malloc_usable_size(p);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

using namespace quvo;

namespace {

enum Kind { Frames, Openings, Errors };

std::string unitOf(Kind kind)
{
    switch (kind) {
    case Frames: return "\xA4RETKLINIKNAMN:V\xE5rdcentralen:RETKLINIKNAMN\xA4";
    case Openings: return "\xA4" "A:";
    case Errors: return "ERROR:\xA4" "A:";
    }
    return {};
}

std::string block(Kind kind, std::int64_t bytes)
{
    const std::string unit = unitOf(kind);
    std::string p = "#DATASTART#";
    p.reserve(std::size_t(bytes) + 32);
    while (p.size() + unit.size() <= std::size_t(bytes) + 11)
        p += unit;
    return p + "#DATAEND#";
}

void BM_Dispatch(benchmark::State& state)
{
    const Kind kind = Kind(state.range(0));
    const std::string bytes = block(kind, state.range(1));
    QTemporaryDir dir;
    SilentUserInterface ui;
    HardwareClient client(ui, {}, SettingsLocations{dir.filePath("user"), dir.filePath("machine")});
    client.FormCreate();
    constexpr std::size_t kRead = 1460;
    double peak = 0;
    std::size_t units = 0;
    for (auto _ : state) {
        const std::size_t before = g_heldNow;
        g_heldPeak = before;
        protocol::StreamReader reader;
        std::vector<protocol::Unit> out;
        units = 0;
        for (std::size_t pos = 0; pos < bytes.size(); pos += kRead) {
            reader.feed(std::string_view(bytes).substr(pos, kRead), out);
            for (protocol::Unit& u : out) {
                units += u.tokens.size();
                client.parts().dispatcher.DispatchServerText(std::move(u));
            }
            out.clear();
        }
        peak = std::max(peak, double(g_heldPeak - before) / (1024.0 * 1024.0));
    }
    state.counters["peak_heap_MiB"] = peak;
    state.counters["tokens"] = double(units);
    state.SetBytesProcessed(state.iterations() * std::int64_t(bytes.size()));
}

constexpr std::int64_t kMiB = 1024 * 1024;

void cases(benchmark::internal::Benchmark* b)
{
    // 20,000 frames, 40,000 openings, 20,000 error texts; then 1 and 16 MiB of each.
    b->Args({Frames, 20000 * std::int64_t(unitOf(Frames).size())});
    b->Args({Openings, 40000 * 3});
    b->Args({Errors, 20000 * 9});
    for (Kind k : {Frames, Openings, Errors}) {
        b->Args({k, kMiB});
        b->Args({k, 16 * kMiB});
    }
    b->ArgNames({"kind", "bytes"});
}

BENCHMARK(BM_Dispatch)->Apply(cases)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QUVO_TELLDUS_LIBRARY", "/nonexistent");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
