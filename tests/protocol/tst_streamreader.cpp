// The receive path: whatever way TCP cuts the stream, every frame comes out
// whole, once, in order, and as soon as its last byte has arrived.
#include "protocol/Field.h"
#include "protocol/Frame.h"
#include "protocol/Readers.h"
#include "protocol/StreamReader.h"
#include "protocol/UpdateReceiver.h"

#include <QtTest>

#include <random>
#include <string>
#include <vector>

using namespace quvo::protocol;

namespace {

const std::string C = "\xA4";

// The bytes of each unit, as the dispatcher gets them: a frame or error text
// whole, a block's content without its markers.
// Blank stray text is left out: it carries nothing.
std::vector<std::string> texts(std::vector<Unit>&& units)
{
    std::vector<std::string> out;
    for (Unit& u : units) {
        if (!u.isStray() || !trimControl(u.bytes).empty())
            out.push_back(std::move(u.bytes));
    }
    return out;
}

std::vector<std::string> feed(StreamReader& r, std::string_view bytes)
{
    std::vector<Unit> units;
    r.feed(bytes, units);
    return texts(std::move(units));
}

// The short wait after a read has passed.
std::vector<std::string> quiet(StreamReader& r)
{
    std::vector<Unit> units;
    r.waitElapsed(units);
    return texts(std::move(units));
}

// Kind and bytes of every token, stray text between two others joined.
std::vector<std::pair<TokenKind, std::string>> flatten(const std::vector<Unit>& units)
{
    std::vector<std::pair<TokenKind, std::string>> out;
    for (const Unit& u : units) {
        for (const Token& t : u.tokens) {
            if (t.kind == TokenKind::Stray && !out.empty() && out.back().first == TokenKind::Stray)
                out.back().second += u.text(t);
            else
                out.emplace_back(t.kind, std::string(u.text(t)));
        }
    }
    return out;
}
const std::string kStart = "#DATASTART#";
const std::string kEnd = "#DATAEND#";

std::string frame(const std::string& tag, const std::string& body)
{
    return C + tag + ":" + body + ":" + tag + C;
}

// Frames of any tag, in order, each required to lie whole inside one text.
std::vector<std::string> framesIn(const std::vector<std::string>& texts)
{
    std::vector<std::string> frames;
    for (const std::string& t : texts) {
        std::size_t pos = 0;
        for (;;) {
            const auto open = t.find(C, pos);
            if (open == std::string::npos)
                break;
            std::size_t e = open + 1;
            while (e < t.size() && t[e] >= 'A' && t[e] <= 'Z')
                ++e;
            if (e == open + 1 || e >= t.size() || t[e] != ':') {
                pos = open + 1;
                continue;
            }
            const std::string tag = t.substr(open + 1, e - open - 1);
            const auto close = t.find(closingMarker(tag), open + 1);
            if (close == std::string::npos) {
                pos = open + 1;
                continue;
            }
            const std::size_t end = close + tag.size() + 2;
            frames.push_back(t.substr(open, end - open));
            pos = end;
        }
    }
    return frames;
}

std::string withoutBlanks(const std::string& s)
{
    std::string r;
    for (char c : s) {
        if (c != ' ' && c != '\r' && c != '\n')
            r += c;
    }
    return r;
}

struct Stream {
    std::string bytes;                 // what the server sends
    std::vector<std::string> frames;   // the frames in it, in order
    std::string delivered;             // what must come out, envelopes removed

    Stream& stray(const std::string& t) { bytes += t; delivered += t; return *this; }
    Stream& add(const std::string& f) { frames.push_back(f); return stray(f); }
    Stream& block(const std::vector<std::string>& fs, const std::string& between = " ")
    {
        bytes += kStart;
        for (std::size_t i = 0; i < fs.size(); ++i) {
            if (i > 0)
                stray(between);
            add(fs[i]);
        }
        bytes += kEnd;
        return *this;
    }
};

std::string currentList(std::mt19937& rng, int entries, int callersEach)
{
    std::string body;
    for (int e = 0; e < entries; ++e) {
        body += "Rum " + std::to_string(e) + ":" + std::to_string(e + 10) + ":255:" + std::to_string(e) + ":" + C + "%";
        for (int k = 0; k < callersEach; ++k) {
            body += "Klient" + std::to_string(rng() % 100) + "~" + std::to_string(k) + "~2024-01-01 12:00:00~65280~"
                    + std::to_string(rng() % 2 ? 0 : 17) + "~~~";
        }
        body += "%" + C + (e + 1 < entries ? ":" : "");
    }
    return C + "CURRENTLIST:" + body + ":CURRENTLIST" + C;
}

Stream makeStream(std::mt19937& rng, int items, bool withErrors)
{
    Stream s;
    auto blanks = [&] {
        static const char* pads[] = {"", "", " ", "\r\n", "  \n "};
        return std::string(pads[rng() % 5]);
    };
    for (int i = 0; i < items; ++i) {
        std::string f;
        switch (rng() % 8) {
        case 0: f = frame("RETSERVERVERSION", "1.10.4"); break;
        case 1: f = frame("RETINITEXT", "C\\temp #x"); break;
        case 2: f = frame("QUVOCLIENTDATA", "Mottagning:Rum 3:255"); break;
        case 3: f = frame("RETKLINIKNAMN", "V\xE5rdcentralen"); break;
        case 4: f = frame("RETSTATIONCALLABLES", "12:0:15:1"); break;
        case 5: f = frame("RETALLCALLABLES", "Akuten:12:a:b:c:d:T"); break;
        default: f = currentList(rng, 1 + rng() % 2, rng() % 3); break;
        }
        const std::string pad = blanks();
        s.bytes += pad;
        s.delivered += pad;
        if (withErrors && rng() % 6 == 0) {
            s.bytes += "ERROR: 001";
            s.delivered += "ERROR: 001";
        }
        if (rng() % 3 == 0) {
            // Sometimes two frames share one envelope.
            std::string inner = f;
            s.frames.push_back(f);
            if (rng() % 3 == 0) {
                const std::string g = frame("RETKLINIKNAMN", "K" + std::to_string(i));
                inner += blanks() + g;
                s.frames.push_back(g);
            }
            s.bytes += kStart + inner + kEnd;
            s.delivered += inner;
        } else {
            s.bytes += f;
            s.delivered += f;
            s.frames.push_back(f);
        }
    }
    return s;
}

struct Outcome {
    std::vector<std::string> texts;
    std::size_t heldAtEnd = 0;
    bool overflow = false;
};

Outcome feedCut(const std::string& bytes, const std::vector<std::size_t>& cuts)
{
    StreamReader reader;
    Outcome o;
    std::size_t from = 0;
    auto feedTo = [&](std::size_t to) {
        for (std::string& t : feed(reader, std::string_view(bytes).substr(from, to - from)))
            o.texts.push_back(std::move(t));
        from = to;
    };
    for (std::size_t c : cuts)
        feedTo(c);
    feedTo(bytes.size());
    for (std::string& t : quiet(reader))
        o.texts.push_back(std::move(t));
    o.heldAtEnd = reader.held();
    o.overflow = reader.takeOverflow();
    return o;
}

// Every frame once, in order, whole; nothing lost or added; nothing held.
bool checkOutcome(const Stream& s, const Outcome& o, QString* why)
{
    if (framesIn(o.texts) != s.frames) {
        *why = QStringLiteral("frames differ");
        return false;
    }
    std::string all;
    for (const std::string& t : o.texts)
        all += t;
    if (withoutBlanks(all) != withoutBlanks(s.delivered)) {
        *why = QStringLiteral("delivered bytes differ");
        return false;
    }
    if (o.heldAtEnd != 0 || o.overflow) {
        *why = QStringLiteral("data held back at the end");
        return false;
    }
    return true;
}

QString describe(const std::string& bytes, const std::vector<std::size_t>& cuts, const QString& why)
{
    QStringList c;
    for (std::size_t x : cuts)
        c << QString::number(x);
    return why + QStringLiteral(" cuts [%1] in %2").arg(c.join(','), QString::fromLatin1(bytes));
}

} // namespace

class StreamReaderTests : public QObject {
    Q_OBJECT
private slots:
    void everyCutPointOfShortStreams();
    void randomCutsOfLongStreams();
    void frameCompletedByLaterReads();
    void splitEnvelopeMarkers();
    void framesBeforeBlockAreNotHeldBack();
    void backToBackBlocks();
    void errorTexts();
    void blankReadsInsideBlockAreKept();
    void frameEndsOnlyAtItsOwnClosingMarker();
    void overflowOfFrame();
    void overflowOfBlock();
    void oversizeFrameInOneRead();
    void clearForgetsEverything();
    void garbageStaysBounded();
    void errorTextRules();
    void heldErrorTextIsBounded();
    void rawBlockIsLeftToTheCaller();
    void updateReceiverFindsFileCutAnywhere();
    void updateReceiverMessagesAroundBlocks();
    void updateReceiverDropsFileOverLimit();
};

void StreamReaderTests::everyCutPointOfShortStreams()
{
    const std::string list = frame("CURRENTLIST", "Rum:1:255:0:" + C + "%Bo~7~2024-01-01 12:00:00~0~0~~~%" + C
                                                      + ":Lab:2:0:1:" + C + "%%" + C);
    std::vector<Stream> streams(4);
    streams[0].stray(" ").add(list).block({frame("RETKLINIKNAMN", "K")}).stray("\r\n");
    streams[1]
        .stray("ERROR: 001")
        .block({frame("RETINITEXT", "v"), frame("RETKLINIKNAMN", "K")})
        .block({frame("RETSERVERVERSION", "1.10.4")})
        .add(frame("RETSTATIONCALLABLES", "12:0"));
    streams[2].add(frame("QUVOCLIENTDATA", "M:Rum 3:255")).stray("ERROR: 5 fel").add(list);
    streams[3].block({list}, "").add(frame("RETALLCALLABLES", "A:12:a:b:c:d:F")).stray(" ");
    for (const Stream& s : streams) {
        const std::size_t n = s.bytes.size();
        QVERIFY(n < 200);
        QString why;
        const Outcome whole = feedCut(s.bytes, {});
        QVERIFY2(checkOutcome(s, whole, &why), qPrintable(describe(s.bytes, {}, why)));
        for (std::size_t a = 1; a < n; ++a) {
            const Outcome one = feedCut(s.bytes, {a});
            if (!checkOutcome(s, one, &why))
                QFAIL(qPrintable(describe(s.bytes, {a}, why)));
            for (std::size_t b = a + 1; b < n; ++b) {
                const Outcome two = feedCut(s.bytes, {a, b});
                if (!checkOutcome(s, two, &why))
                    QFAIL(qPrintable(describe(s.bytes, {a, b}, why)));
            }
        }
    }
}

void StreamReaderTests::randomCutsOfLongStreams()
{
    std::mt19937 rng(11);
    for (int round = 0; round < 150; ++round) {
        const Stream s = makeStream(rng, 20 + rng() % 40, round % 2 == 0);
        std::vector<std::size_t> cuts;
        const int mode = round % 3;
        for (std::size_t pos = 0;;) {
            // Byte-by-byte, small reads, and reads the size of TCP segments.
            pos += mode == 0 ? 1 : mode == 1 ? 1 + rng() % 16 : 1 + rng() % 1460;
            if (pos >= s.bytes.size())
                break;
            cuts.push_back(pos);
        }
        const Outcome o = feedCut(s.bytes, cuts);
        QString why;
        QVERIFY2(checkOutcome(s, o, &why), qPrintable(why));
    }
}

void StreamReaderTests::frameCompletedByLaterReads()
{
    StreamReader b;
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%A~1~~0~0~~~%" + C);
    QVERIFY(feed(b, f.substr(0, 10)).empty());
    QVERIFY(feed(b, f.substr(10, 20)).empty());
    QVERIFY(b.held() > 0);
    // The closing marker itself cut in two.
    QVERIFY(feed(b, f.substr(30, f.size() - 35)).empty());
    const auto out = feed(b, f.substr(f.size() - 5));
    QCOMPARE(out, std::vector<std::string>{f});
    QCOMPARE(b.held(), std::size_t(0));
}

void StreamReaderTests::splitEnvelopeMarkers()
{
    StreamReader b;
    const std::string f = frame("RETSERVERVERSION", "1.10.4");
    QVERIFY(feed(b, "#DATA").empty());
    QVERIFY(feed(b, "START#" + f + "#DATAE").empty());
    const auto out = feed(b, "ND#");
    QCOMPARE(out, std::vector<std::string>{f});
    QCOMPARE(b.held(), std::size_t(0));
    // A lone '#' that turns out not to begin a marker is passed on with the text.
    QCOMPARE(feed(b, "a #"), std::vector<std::string>{"a "});
    QCOMPARE(feed(b, "b"), std::vector<std::string>{"#b"});
}

void StreamReaderTests::framesBeforeBlockAreNotHeldBack()
{
    StreamReader b;
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%%" + C);
    const std::string g = frame("RETKLINIKNAMN", "K");
    auto out = feed(b, f + kStart + g.substr(0, 5));
    QCOMPARE(out, std::vector<std::string>{f});
    out = feed(b, g.substr(5) + kEnd + " ");
    QCOMPARE(out, std::vector<std::string>{g});
}

void StreamReaderTests::backToBackBlocks()
{
    StreamReader b;
    const std::string f = frame("RETINITEXT", "1");
    const std::string g = frame("RETINITEXT", "2");
    const auto out = feed(b, kStart + f + kEnd + kStart + g + kEnd);
    QCOMPARE(out, (std::vector<std::string>{f, g}));
    // Only the first marker of each kind belongs to the envelope.
    const auto inner = feed(b, kStart + "x" + kStart + "y" + kEnd);
    QCOMPARE(inner, std::vector<std::string>{"x" + kStart + "y"});
}

void StreamReaderTests::errorTexts()
{
    StreamReader b;
    // Without frame markers, it is open until the server has gone quiet.
    QVERIFY(feed(b, "ERROR: 001").empty());
    QVERIFY(b.errorOpen());
    QCOMPARE(quiet(b), std::vector<std::string>{"ERROR: 001"});
    QVERIFY(!b.errorOpen());
    // The marker cut by the read is completed by the next one, and so is the text.
    QVERIFY(feed(b, "ERRO").empty());
    QVERIFY(feed(b, "R: 0").empty());
    QVERIFY(feed(b, "01").empty());
    QCOMPARE(quiet(b), std::vector<std::string>{"ERROR: 001"});
    // An error text ends where a frame opens; the frame is not swallowed by it.
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%%" + C);
    QCOMPARE(feed(b, "ERROR: 5 fel" + f), (std::vector<std::string>{"ERROR: 5 fel", f}));
    QCOMPARE(feed(b, f + "ERROR: 001"), std::vector<std::string>{f});
    QCOMPARE(quiet(b), std::vector<std::string>{"ERROR: 001"});
    QCOMPARE(b.held(), std::size_t(0));
}

void StreamReaderTests::blankReadsInsideBlockAreKept()
{
    StreamReader b;
    QVERIFY(feed(b, kStart + C + "RETNEWCLIENT:\x01").empty());
    QVERIFY(feed(b, "  \r\n").empty());
    QVERIFY(feed(b, std::string("\0", 1)).empty());
    const auto out = feed(b, ":RETNEWCLIENT" + C + kEnd);
    QCOMPARE(out, std::vector<std::string>{C + "RETNEWCLIENT:\x01  \r\n" + std::string("\0", 1) + ":RETNEWCLIENT" + C});
    // Blank reads outside frames are dropped.
    QVERIFY(feed(b, " \r\n\t").empty());
    QCOMPARE(b.held(), std::size_t(0));
}

void StreamReaderTests::frameEndsOnlyAtItsOwnClosingMarker()
{
    // A frame ends only at its own closing marker: another tag's opening in a
    // caller's name is text, however the reads cut it.
    const std::string named = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%Anna " + C + "B: Berg~7~~0~0~~~%" + C);
    std::vector<std::string> bytewise;
    StreamReader b;
    for (char c : named + named)
        for (auto& t : feed(b, std::string_view(&c, 1)))
            bytewise.push_back(t);
    QCOMPARE(bytewise, (std::vector<std::string>{named, named}));
    // A frame that never closes holds what follows, until a block marker
    // ends it; the block after it is read as ever.
    const std::string f = frame("RETKLINIKNAMN", "K");
    QVERIFY(feed(b, C + "BROKEN:half" + f).empty());
    QCOMPARE(feed(b, kStart + f + kEnd), (std::vector<std::string>{C + "BROKEN:half" + f, f}));
    QCOMPARE(b.held(), std::size_t(0));
    // The call list's own brackets are not mistaken for frame openings.
    const std::string g = frame("CURRENTLIST", "A:1:0:0:" + C + "%X~1~~0~0~~~%" + C + ":B:2:0:1:" + C + "%%" + C);
    std::vector<std::string> all;
    for (char c : g)
        for (auto& t : feed(b, std::string_view(&c, 1)))
            all.push_back(t);
    QCOMPARE(all, std::vector<std::string>{g});
}

void StreamReaderTests::overflowOfFrame()
{
    StreamReader b(100);
    const std::string big = frame("CURRENTLIST", std::string(300, 'x'));
    const std::string small = frame("RETKLINIKNAMN", "K");
    std::vector<std::string> out;
    for (std::size_t i = 0; i < big.size(); i += 7) {
        for (auto& t : feed(b, big.substr(i, 7)))
            out.push_back(t);
        QVERIFY(b.held() <= 100 + 7);
    }
    QVERIFY(out.empty());
    QVERIFY(b.takeOverflow());
    QVERIFY(!b.takeOverflow());
    // After the oversized frame (its closing marker cut by the reads) the
    // stream goes on normally: text after it is outside any frame again.
    QVERIFY(feed(b, "ERROR: 9").empty());
    QCOMPARE(quiet(b), std::vector<std::string>{"ERROR: 9"});
    QCOMPARE(feed(b, small), std::vector<std::string>{small});
    QVERIFY(!b.takeOverflow());
    // A frame exactly at the limit is still delivered.
    const std::string atLimit = frame("RETINITEXT", std::string(100 - 24, 'y'));
    QCOMPARE(atLimit.size(), std::size_t(100));
    QCOMPARE(feed(b, atLimit.substr(0, 50)), std::vector<std::string>{});
    QCOMPARE(feed(b, atLimit.substr(50)), std::vector<std::string>{atLimit});
    QVERIFY(!b.takeOverflow());
}

void StreamReaderTests::overflowOfBlock()
{
    StreamReader b(64);
    std::vector<std::string> out;
    auto feedB = [&](const std::string& s) {
        for (auto& t : feed(b, s))
            out.push_back(t);
        QVERIFY(b.held() <= 64 + s.size());
    };
    feedB(kStart);
    for (int i = 0; i < 50; ++i)
        feedB(std::string(10, 'z'));
    QVERIFY(b.held() < 64);
    feedB("#DATA");
    feedB("END#");
    QVERIFY(out.empty());
    QVERIFY(b.takeOverflow());
    const std::string f = frame("RETINITEXT", "v");
    feedB(kStart + f + kEnd);
    QCOMPARE(out, std::vector<std::string>{f});
    QVERIFY(!b.takeOverflow());
}

void StreamReaderTests::oversizeFrameInOneRead()
{
    // The decision does not depend on how the bytes were cut.
    StreamReader b(50);
    const std::string big = frame("RETINITEXT", std::string(60, 'x'));
    const std::string small = frame("RETINITEXT", "ok");
    QCOMPARE(feed(b, big + small), std::vector<std::string>{small});
    QVERIFY(b.takeOverflow());
}

void StreamReaderTests::clearForgetsEverything()
{
    StreamReader b;
    QVERIFY(feed(b, kStart + "abc").empty());
    QVERIFY(b.held() > 0);
    b.clear();
    QCOMPARE(b.held(), std::size_t(0));
    const std::string f = frame("RETINITEXT", "v");
    QCOMPARE(feed(b, f), std::vector<std::string>{f});
}

void StreamReaderTests::garbageStaysBounded()
{
    // Pieces of markers in random order: whatever arrives, what is held stays
    // within the limit plus what a cut marker needs, nothing is made up, and
    // the reads' cuts change nothing.
    const char* pieces[] = {"\xA4", "A", "CURRENTLIST", ":", "%", "~", "#DATASTART#", "#DATAEND#", "#DATA",
                            "ERROR: 001", "ERR", " ", ":CURRENTLIST\xA4", "\xA4RETINITEXT:", ":RETINITEXT\xA4"};
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        StreamReader b(40);
        std::string sent;
        std::vector<Unit> cut;
        for (int i = 0; i < 200; ++i) {
            std::string chunk;
            for (int k = 1 + rng() % 6; k > 0; --k)
                chunk += pieces[rng() % 15];
            sent += chunk;
            b.feed(chunk, cut);
            QVERIFY(b.held() <= 40 + 70);
        }
        b.waitElapsed(cut);
        std::size_t emitted = 0;
        for (const Unit& u : cut) {
            emitted += u.bytes.size();
            for (const Token& t : u.tokens) {
                if (t.kind != TokenKind::Frame)
                    continue;
                // The readers take whatever the dispatcher may hand them.
                const CallList l = readCurrentList(u.frameCopy(t));
                QVERIFY(l.confirmed <= l.callersRead);
                readAllCallables(u.frameCopy(t));
                readClientData(u.frameCopy(t));
            }
        }
        QVERIFY(emitted <= sent.size());
        StreamReader whole(40);
        std::vector<Unit> one;
        whole.feed(sent, one);
        whole.waitElapsed(one);
        QVERIFY(flatten(cut) == flatten(one));
        QCOMPARE(b.takeOverflow(), whole.takeOverflow());
    }
}

void StreamReaderTests::errorTextRules()
{
    StreamReader r;
    std::vector<Unit> units;
    // An error text inside a frame is none; inside a frame a block marker
    // broke it is, up to that marker. The last "ERROR" is no cut marker.
    const std::string ini = frame("RETINITEXT", "ERROR: x");
    r.feed(ini + C + "CURRENTLIST:A:ERROR: 5" + kStart + frame("RETKLINIKNAMN", "K") + kEnd + "ERROR: DATABASE ERROR",
           units);
    r.waitElapsed(units);
    const std::vector<std::pair<TokenKind, std::string>> want = {
        {TokenKind::Frame, ini},
        {TokenKind::Stray, C + "CURRENTLIST:A:"},
        {TokenKind::ErrorText, "ERROR: 5"},
        {TokenKind::BlockStart, ""},
        {TokenKind::Frame, frame("RETKLINIKNAMN", "K")},
        {TokenKind::BlockEnd, ""},
        {TokenKind::ErrorText, "ERROR: DATABASE ERROR"}};
    QVERIFY(flatten(units) == want);
    // A block start ends an error text; inside the block the block's end does.
    units.clear();
    r.feed("ERROR: 7" + kStart + "ERROR: 8" + kEnd, units);
    QVERIFY(!r.errorOpen());
    QCOMPARE(units.size(), std::size_t(2));
    QCOMPARE(units[0].bytes, std::string("ERROR: 7"));
    QVERIFY(units[1].isBlock());
    QCOMPARE(std::string(units[1].text(units[1].tokens[1])), std::string("ERROR: 8"));
    // The wait ends the text, but not a frame opening cut by the read.
    units.clear();
    const std::string f = frame("CURRENTLIST", "A:1:0:0:");
    r.feed("ERROR: 9 " + f.substr(0, 4), units);
    r.waitElapsed(units);
    r.feed(f.substr(4), units);
    QCOMPARE(texts(std::move(units)), (std::vector<std::string>{"ERROR: 9 ", f}));
}

void StreamReaderTests::heldErrorTextIsBounded()
{
    // An error text that never ends is held within the limit, reported once,
    // and the stream goes on behind it.
    StreamReader r(1000);
    std::vector<Unit> units;
    r.feed("ERROR: ", units);
    for (int i = 0; i < 100; ++i) {
        r.feed(std::string(100, 'x'), units);
        QVERIFY(r.held() <= 1000 + 100);
    }
    QVERIFY(r.takeOverflow());
    const std::string f = frame("RETINITEXT", "v");
    r.feed(f, units);
    QCOMPARE(texts(std::move(units)), std::vector<std::string>{f});
    QVERIFY(!r.takeOverflow());
}

void StreamReaderTests::rawBlockIsLeftToTheCaller()
{
    StreamReader r;
    r.setRawBlockOpening(C + "RAW:");
    std::vector<Unit> units;
    const std::string before = frame("RETINITEXT", "v");
    // Whether the block is raw is known only with its opening whole.
    QCOMPARE(r.feed(before + kStart + C + "RA", units), before.size() + kStart.size() + 3);
    QVERIFY(!r.inRawBlock());
    QCOMPARE(r.feed("W:data", units), std::size_t(2));
    QVERIFY(r.inRawBlock());
    QCOMPARE(r.feed("more", units), std::size_t(0));
    QCOMPARE(texts(std::move(units)), std::vector<std::string>{before});
    r.endRawBlock();
    units.clear();
    r.feed(kStart + C + "RAT:x:RAT" + C + kEnd, units);
    QVERIFY(units.size() == 1 && units[0].isBlock());
}

void StreamReaderTests::updateReceiverFindsFileCutAnywhere()
{
    const std::string closing = ":RETNEWCLIENT" + C + kEnd;
    const std::string file = "head" + std::string(40, ' ') + kEnd + std::string(5, '\0') + "tail";
    const std::string stream = frame("RETSERVERVERSION", "1.10.4") + kStart + C + "RETNEWCLIENT:" + file + closing;
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        UpdateReceiver receiver;
        std::string got;
        int begins = 0, ends = 0, messages = 0;
        for (std::size_t off = 0; off < stream.size(); off += piece) {
            for (const auto& e : receiver.feed(std::string_view(stream).substr(off, piece))) {
                begins += e.kind == UpdateReceiver::EventKind::FileBegin;
                ends += e.kind == UpdateReceiver::EventKind::FileEnd;
                messages += e.kind == UpdateReceiver::EventKind::Message;
                if (e.kind == UpdateReceiver::EventKind::FileData)
                    got += e.bytes;
            }
        }
        QCOMPARE(messages, 1);
        QCOMPARE(begins, 1);
        QCOMPARE(ends, 1);
        QVERIFY(got == file);
        QVERIFY(!receiver.collecting());
    }
    // The closing markers inside the file, with more of the file behind them
    // in the same read, are file bytes.
    const std::string inner = "a" + closing + "more bytes of the file";
    UpdateReceiver receiver;
    std::string got;
    for (const auto& e : receiver.feed(kStart + C + "RETNEWCLIENT:" + inner + closing + "\r\n"))
        if (e.kind == UpdateReceiver::EventKind::FileData)
            got += e.bytes;
    QVERIFY(got == inner);
}

void StreamReaderTests::updateReceiverMessagesAroundBlocks()
{
    UpdateReceiver receiver;
    std::vector<std::string> messages;
    auto feedR = [&](const std::string& bytes) {
        auto events = receiver.feed(bytes);
        if (receiver.errorOpen()) {
            auto more = receiver.waitElapsed();
            events.insert(events.end(), more.begin(), more.end());
        }
        for (const auto& e : events)
            if (e.kind == UpdateReceiver::EventKind::Message)
                messages.push_back(e.message.bytes);
    };
    feedR(" \r\n\t");
    QVERIFY(messages.empty());
    // A version answer cut in two reads is handled once, whole.
    feedR(C + "RETSERVERVERSION:1.1");
    QVERIFY(messages.empty());
    feedR("0.4:RETSERVERVERSION" + C);
    QCOMPARE(messages, std::vector<std::string>{frame("RETSERVERVERSION", "1.10.4")});
    messages.clear();
    // An enveloped answer over three reads, its start marker cut too.
    feedR("#DATAST");
    feedR("ART#" + C + "RETSERVERVERSION:1.1");
    QVERIFY(receiver.collecting());
    feedR("1.0:RETSERVERVERSION" + C + kEnd + "ERROR: 5 fel");
    QCOMPARE(messages, (std::vector<std::string>{frame("RETSERVERVERSION", "1.11.0"), "ERROR: 5 fel"}));
    QVERIFY(!receiver.collecting());
}

void StreamReaderTests::updateReceiverDropsFileOverLimit()
{
    UpdateReceiver receiver(100);
    int overflows = 0, ends = 0;
    std::size_t data = 0;
    auto feedR = [&](const std::string& bytes) {
        for (const auto& e : receiver.feed(bytes)) {
            overflows += e.kind == UpdateReceiver::EventKind::Overflow;
            ends += e.kind == UpdateReceiver::EventKind::FileEnd;
            if (e.kind == UpdateReceiver::EventKind::FileData)
                data += e.bytes.size();
        }
    };
    feedR(kStart + C + "RETNEWCLIENT:" + std::string(90, 'a'));
    feedR(std::string(90, 'b'));
    feedR(std::string(10, 'c') + ":RETNEWCLIENT" + C + kEnd);
    QCOMPARE(overflows, 1);
    QCOMPARE(ends, 0);
    QVERIFY(data <= 100);
    receiver.reset();
    QVERIFY(!receiver.collecting());
}

QObject* createStreamReaderTests() { return new StreamReaderTests; }

#include "tst_streamreader.moc"
