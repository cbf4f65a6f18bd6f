// The stream reader, the frame readers and the update connection's reader on
// any bytes, cut into reads anywhere: cut reads must give the tokens one read
// gives, nothing held may outgrow the bound, and without blocks the frames
// are those that end at their own closing markers.
#include "FuzzInput.h"

#include "protocol/Readers.h"
#include "protocol/StreamReader.h"
#include "protocol/UpdateReceiver.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

using namespace quvo::protocol;

namespace {

// What a cut marker may keep beside the bound: an opening with the longest
// tag, a closing marker's tail, a block marker.
constexpr std::size_t kMargin = 2 * (StreamReader::kMaxTagLength + 3) + 16;

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_stream: %s\n", what);
        std::abort();
    }
}

std::vector<std::pair<TokenKind, std::string>> flatten(const std::vector<Unit>& units)
{
    std::vector<std::pair<TokenKind, std::string>> out;
    for (const Unit& u : units) {
        for (const Token& t : u.tokens) {
            require(t.begin <= t.end && t.end <= u.bytes.size(), "token outside its unit");
            if (t.kind == TokenKind::Stray && !out.empty() && out.back().first == TokenKind::Stray)
                out.back().second += u.text(t);
            else
                out.emplace_back(t.kind, std::string(u.text(t)));
        }
    }
    return out;
}

// The frames the rule finds without blocks: from an opening to the first
// closing marker of its own tag, whatever stands between.
std::vector<std::string> framesByRule(std::string_view s)
{
    std::vector<std::string> out;
    std::size_t pos = 0;
    while ((pos = s.find('\xA4', pos)) != std::string_view::npos) {
        std::size_t e = pos + 1;
        while (e < s.size() && e - pos - 1 < StreamReader::kMaxTagLength && s[e] >= 'A' && s[e] <= 'Z')
            ++e;
        if (e == s.size())
            break;
        if (s[e] != ':' || e == pos + 1) {
            ++pos;
            continue;
        }
        const std::string closing = ":" + std::string(s.substr(pos + 1, e - pos - 1)) + "\xA4";
        const std::size_t c = s.find(closing, e);
        if (c == std::string_view::npos)
            break;
        out.emplace_back(s.substr(pos, c + closing.size() - pos));
        pos = c + closing.size();
    }
    return out;
}

std::vector<std::string> framesOf(const std::vector<Unit>& units)
{
    std::vector<std::string> out;
    for (const Unit& u : units)
        for (const Token& t : u.tokens)
            if (t.kind == TokenKind::Frame)
                out.emplace_back(u.text(t));
    return out;
}

void readFrames(const std::vector<Unit>& units)
{
    for (const Unit& u : units) {
        for (const Token& t : u.tokens) {
            if (t.kind != TokenKind::Frame)
                continue;
            const std::string_view copy = u.frameCopy(t);
            const CallList list = readCurrentList(copy);
            require(list.confirmed <= list.callersRead, "more confirmed callers than callers");
            readAllCallables(copy);
            readStationCallables(copy);
            readClientData(copy);
            versionNumber(readServerVersion(copy), 0);
            readIniText(copy);
            readKlinikNamn(copy);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const quvo::fuzz::Input in = quvo::fuzz::readInput(data, size);
    if (in.limit == 0)
        return 0;

    StreamReader whole(in.limit);
    std::vector<Unit> one;
    whole.feed(in.stream, one);
    whole.waitElapsed(one);

    StreamReader cut(in.limit);
    std::vector<Unit> many;
    UpdateReceiver update(in.limit * 4, in.limit);
    std::size_t fileBytes = 0;
    for (std::string_view piece : quvo::fuzz::reads(in)) {
        cut.feed(piece, many);
        require(cut.held() <= in.limit + kMargin, "stream reader holds more than its bound");
        for (const auto& e : update.feed(piece)) {
            if (e.kind == UpdateReceiver::EventKind::FileBegin)
                fileBytes = 0;
            if (e.kind == UpdateReceiver::EventKind::FileData)
                fileBytes += e.bytes.size();
        }
        require(update.held() <= in.limit + 2 * kMargin, "update reader holds more than its bound");
        require(fileBytes <= in.limit * 4, "update reader passed on more file than its bound");
    }
    cut.waitElapsed(many);
    update.waitElapsed();

    require(flatten(one) == flatten(many), "cut reads gave other tokens than one read");
    const bool overflow = whole.takeOverflow();
    require(overflow == cut.takeOverflow(), "cut reads dropped other units than one read");
    if (!overflow && in.stream.find('#') == std::string_view::npos)
        require(framesOf(one) == framesByRule(in.stream), "a frame did not end at its own closing marker");
    readFrames(one);
    return 0;
}
