// What a broken or hostile server can cost the client: one block full of
// frames, unclosed frame openings or error texts (or an error text without
// end), sent over loopback to the real client core, followed by a call list
// with an unconfirmed call. Measured: the time from the call list's last byte
// to tdTurnOn, and the process's peak resident size.
//
// ru_maxrss only grows, so each case must run in a process of its own:
// bench/wire_figures.sh does that.
#include "WireRig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdlib>
#include <sys/resource.h>

using namespace quvo::bench;

namespace {

enum Kind { Frames, Openings, Errors, EndlessError };

std::string unitOf(Kind kind)
{
    switch (kind) {
    case Frames: return frame("RETKLINIKNAMN", "V\xE5rdcentralen");
    case Openings: return "\xA4" "A:";
    case Errors: return "ERROR:\xA4" "A:";
    case EndlessError: return "x";  // behind "ERROR: "
    }
    return {};
}

// Sends the case's bytes in pieces of about 64 KiB, so that this process
// never holds more than one piece of them: the peak resident size is then
// the client's.
std::int64_t sendPayload(WireRig& rig, Kind kind, std::int64_t bytes)
{
    const std::string unit = unitOf(kind);
    std::string piece;
    while (piece.size() + unit.size() <= 64 * 1024)
        piece += unit;
    std::int64_t sent = 0;
    // Outside any block the error text goes on until a frame opens.
    const std::string head = kind == EndlessError ? "ERROR: " : "#DATASTART#";
    rig.send(head);
    const std::int64_t whole = bytes / std::int64_t(unit.size()) * std::int64_t(unit.size());
    while (sent < whole) {
        const std::size_t n = std::size_t(std::min<std::int64_t>(std::int64_t(piece.size()), whole - sent));
        rig.send(piece.substr(0, n));
        sent += std::int64_t(n);
    }
    if (kind != EndlessError)
        rig.send("#DATAEND#");
    return sent;
}

double maxRssMiB()
{
    rusage ru {};
    ::getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_maxrss) / 1024.0;
}

void BM_Wire(benchmark::State& state)
{
    const Kind kind = Kind(state.range(0));
    const std::int64_t bytes = state.range(1);
    const char* wait = std::getenv("QUVO_BENCH_WAIT_S");
    const auto limit = std::chrono::seconds(wait ? std::atoi(wait) : 120);
    for (auto _ : state) {
        WireRig rig;
        if (!rig.ready()) {
            state.SkipWithError("no handshake from the client");
            return;
        }
        const off_t before = rig.logSize();
        const std::int64_t sent = sendPayload(rig, kind, bytes);
        rig.send(kUnconfirmed);
        const auto lastByte = Clock::now();
        if (!rig.waitForSwitch(before, limit)) {
            state.SkipWithError("the receiver was not switched on in time");
            return;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - lastByte).count();
        state.SetIterationTime(ms / 1000.0);
        state.counters["after_last_byte_ms"] = ms;
        state.counters["payload_bytes"] = double(sent);
    }
    state.counters["maxrss_MiB"] = maxRssMiB();
}

constexpr std::int64_t kMiB = 1024 * 1024;

void cases(benchmark::internal::Benchmark* b)
{
    // The counts of the call: 20,000 frames, 40,000 openings, 20,000 error texts.
    b->Args({Frames, 20000 * std::int64_t(unitOf(Frames).size())});
    b->Args({Openings, 40000 * 3});
    b->Args({Errors, 20000 * 9});
    // The sizes first reported: 240 KB of openings, 620 KB of frames.
    b->Args({Openings, 240000});
    b->Args({Frames, 620000});
    for (Kind k : {Frames, Openings, Errors}) {
        b->Args({k, kMiB});
        b->Args({k, 16 * kMiB});
    }
    b->Args({EndlessError, 200 * kMiB});
    b->ArgNames({"kind", "bytes"});
}

BENCHMARK(BM_Wire)->Apply(cases)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The call list alone, for comparison: the base of every figure above.
void BM_WireBaseline(benchmark::State& state)
{
    for (auto _ : state) {
        WireRig rig;
        const off_t before = rig.logSize();
        rig.send(kUnconfirmed);
        const auto lastByte = Clock::now();
        rig.waitForSwitch(before, std::chrono::seconds(5));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - lastByte).count());
    }
    state.counters["maxrss_MiB"] = maxRssMiB();
}
BENCHMARK(BM_WireBaseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
