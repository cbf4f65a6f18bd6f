// Time from the call server writing a call list with one unconfirmed call to
// the Telldus library receiving tdTurnOn, over loopback, through the real
// client core and the real library loading path (the Telldus simulator).
//
// The client runs in its own thread with its own event loop; this thread is
// the server and watches the simulator's log for the switch.
#include "WireRig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <vector>

using namespace quvo::bench;

namespace {

void BM_CallToTurnOn(benchmark::State& state)
{
    WireRig rig;
    if (!rig.ready()) {
        state.SkipWithError("no handshake from the client");
        return;
    }

    std::vector<double> micros;
    micros.reserve(std::size_t(state.max_iterations));
    for (auto _ : state) {
        const off_t before = rig.logSize();
        const auto t0 = Clock::now();
        rig.send(kUnconfirmed);
        if (!rig.waitForSwitch(before, std::chrono::seconds(5))) {
            state.SkipWithError("the receiver was not switched on");
            break;
        }
        const auto t1 = Clock::now();
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
        // Confirm, and wait for the switch-off, so that the next call starts a new activation.
        const off_t afterOn = rig.logSize();
        rig.send(kConfirmed);
        rig.waitForSwitch(afterOn, std::chrono::seconds(5));
    }
    if (!micros.empty()) {
        std::sort(micros.begin(), micros.end());
        state.counters["median_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
        state.counters["max_us"] = micros.back();
    }
}

BENCHMARK(BM_CallToTurnOn)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
