// Throughput of the call-list reader and the stream reader on call lists of
// growing size; both must stay linear in the size of the frame.
#include "protocol/Frame.h"
#include "protocol/Readers.h"
#include "protocol/StreamReader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

using namespace quvo::protocol;

namespace {

// A CURRENTLIST frame with `callers` caller records, ten per resource,
// every other one confirmed.
std::string callListFrame(int callers)
{
    const std::string c(1, kFrameChar);
    std::string body;
    const int entries = std::max(1, callers / 10);
    int written = 0;
    for (int e = 0; e < entries; ++e) {
        body += "Resurs " + std::to_string(e) + ":" + std::to_string(1000 + e) + ":16711680:" + std::to_string(e) + ":"
                + c + "%";
        const int here = e + 1 == entries ? callers - written : std::min(10, callers - written);
        for (int k = 0; k < here; ++k, ++written) {
            body += "Klient " + std::to_string(written) + "~" + std::to_string(written) + "~2024-03-01 08:15:30~255~"
                    + (written % 2 ? "17" : "0") + "~2024-03-01 08:16:00~Sk\xF6terska~";
        }
        body += "%" + c + (e + 1 < entries ? ":" : "");
    }
    return c + "CURRENTLIST:" + body + closingMarker("CURRENTLIST");
}

void BM_readCurrentList(benchmark::State& state)
{
    const std::string frame = callListFrame(static_cast<int>(state.range(0)));
    const auto span = findFrame(frame, "CURRENTLIST");
    const std::string_view copy = frameCopy(frame, *span);
    for (auto _ : state) {
        CallList list = readCurrentList(copy);
        benchmark::DoNotOptimize(list);
        if (list.callersRead != state.range(0))
            state.SkipWithError("wrong caller count");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(copy.size()));
    state.counters["frame_bytes"] = static_cast<double>(frame.size());
}

void BM_StreamReaderFeed(benchmark::State& state)
{
    const std::string frame = callListFrame(static_cast<int>(state.range(0)));
    constexpr std::size_t kRead = 1460; // one TCP segment
    StreamReader reader;
    std::vector<Unit> out;
    for (auto _ : state) {
        std::size_t frames = 0;
        for (std::size_t pos = 0; pos < frame.size(); pos += kRead) {
            reader.feed(std::string_view(frame).substr(pos, kRead), out);
            frames += out.size();
            benchmark::DoNotOptimize(out);
            out.clear();
        }
        if (frames != 1)
            state.SkipWithError("frame not delivered once");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.size()));
    state.counters["frame_bytes"] = static_cast<double>(frame.size());
}

} // namespace

BENCHMARK(BM_readCurrentList)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StreamReaderFeed)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
