// The receive path: whatever way TCP cuts the stream, every frame comes out
// whole, once, in order, and as soon as its last byte has arrived.
#include "protocol/Frame.h"
#include "protocol/Readers.h"
#include "protocol/ReceiveBuffer.h"

#include <QtTest>

#include <random>
#include <string>
#include <vector>

using namespace quvo::protocol;

namespace {

const std::string C = "\xA4";
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
    ReceiveBuffer buffer;
    Outcome o;
    std::size_t from = 0;
    auto feedTo = [&](std::size_t to) {
        for (std::string& t : buffer.feed(std::string_view(bytes).substr(from, to - from)))
            o.texts.push_back(std::move(t));
        from = to;
    };
    for (std::size_t c : cuts)
        feedTo(c);
    feedTo(bytes.size());
    o.heldAtEnd = buffer.held();
    o.overflow = buffer.takeOverflow();
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

class ReceiveBufferTests : public QObject {
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
    void brokenFrameDoesNotStallStream();
    void overflowOfFrame();
    void overflowOfBlock();
    void oversizeFrameInOneRead();
    void clearForgetsEverything();
    void garbageStaysBounded();
};

void ReceiveBufferTests::everyCutPointOfShortStreams()
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

void ReceiveBufferTests::randomCutsOfLongStreams()
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

void ReceiveBufferTests::frameCompletedByLaterReads()
{
    ReceiveBuffer b;
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%A~1~~0~0~~~%" + C);
    QVERIFY(b.feed(f.substr(0, 10)).empty());
    QVERIFY(b.feed(f.substr(10, 20)).empty());
    QVERIFY(b.held() > 0);
    // The closing marker itself cut in two.
    QVERIFY(b.feed(f.substr(30, f.size() - 35)).empty());
    const auto out = b.feed(f.substr(f.size() - 5));
    QCOMPARE(out, std::vector<std::string>{f});
    QCOMPARE(b.held(), std::size_t(0));
}

void ReceiveBufferTests::splitEnvelopeMarkers()
{
    ReceiveBuffer b;
    const std::string f = frame("RETSERVERVERSION", "1.10.4");
    QVERIFY(b.feed("#DATA").empty());
    QVERIFY(b.feed("START#" + f + "#DATAE").empty());
    const auto out = b.feed("ND#");
    QCOMPARE(out, std::vector<std::string>{f});
    QCOMPARE(b.held(), std::size_t(0));
    // A lone '#' that turns out not to begin a marker is passed on with the text.
    QCOMPARE(b.feed("a #"), std::vector<std::string>{"a "});
    QCOMPARE(b.feed("b"), std::vector<std::string>{"#b"});
}

void ReceiveBufferTests::framesBeforeBlockAreNotHeldBack()
{
    ReceiveBuffer b;
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%%" + C);
    const std::string g = frame("RETKLINIKNAMN", "K");
    auto out = b.feed(f + kStart + g.substr(0, 5));
    QCOMPARE(out, std::vector<std::string>{f});
    out = b.feed(g.substr(5) + kEnd + " ");
    QCOMPARE(out, std::vector<std::string>{g});
}

void ReceiveBufferTests::backToBackBlocks()
{
    ReceiveBuffer b;
    const std::string f = frame("RETINITEXT", "1");
    const std::string g = frame("RETINITEXT", "2");
    const auto out = b.feed(kStart + f + kEnd + kStart + g + kEnd);
    QCOMPARE(out, (std::vector<std::string>{f, g}));
    // Only the first marker of each kind belongs to the envelope.
    const auto inner = b.feed(kStart + "x" + kStart + "y" + kEnd);
    QCOMPARE(inner, std::vector<std::string>{"x" + kStart + "y"});
}

void ReceiveBufferTests::errorTexts()
{
    ReceiveBuffer b;
    // Without frame markers, passed on as soon as the read ends.
    QCOMPARE(b.feed("ERROR: 001"), std::vector<std::string>{"ERROR: 001"});
    // The marker cut by the read is completed by the next one.
    QVERIFY(b.feed("ERRO").empty());
    QCOMPARE(b.feed("R: 001"), std::vector<std::string>{"ERROR: 001"});
    // An error text ends where a frame opens; the frame is not swallowed by it.
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%%" + C);
    QCOMPARE(b.feed("ERROR: 5 fel" + f), (std::vector<std::string>{"ERROR: 5 fel", f}));
    QCOMPARE(b.feed(f + "ERROR: 001"), (std::vector<std::string>{f, "ERROR: 001"}));
    QCOMPARE(b.held(), std::size_t(0));
}

void ReceiveBufferTests::blankReadsInsideBlockAreKept()
{
    ReceiveBuffer b;
    QVERIFY(b.feed(kStart + C + "RETNEWCLIENT:\x01").empty());
    QVERIFY(b.feed("  \r\n").empty());
    QVERIFY(b.feed(std::string("\0", 1)).empty());
    const auto out = b.feed(":RETNEWCLIENT" + C + kEnd);
    QCOMPARE(out, std::vector<std::string>{C + "RETNEWCLIENT:\x01  \r\n" + std::string("\0", 1) + ":RETNEWCLIENT" + C});
    // Blank reads outside frames are dropped.
    QVERIFY(b.feed(" \r\n\t").empty());
    QCOMPARE(b.held(), std::size_t(0));
}

void ReceiveBufferTests::brokenFrameDoesNotStallStream()
{
    ReceiveBuffer b;
    const std::string f = frame("CURRENTLIST", "Rum:1:0:0:" + C + "%%" + C);
    QVERIFY(b.feed(C + "BROKEN:half").empty());
    const auto out = b.feed(f);
    QCOMPARE(out, (std::vector<std::string>{C + "BROKEN:half", f}));
    QCOMPARE(b.held(), std::size_t(0));
    // The same when the new opening is cut by the reads.
    const std::string stream = C + "BROKEN:half" + f;
    std::vector<std::string> bytewise;
    for (char c : stream)
        for (auto& t : b.feed(std::string_view(&c, 1)))
            bytewise.push_back(t);
    QCOMPARE(bytewise, (std::vector<std::string>{C + "BROKEN:half", f}));
    // The call list's own brackets are not mistaken for frame openings.
    const std::string g = frame("CURRENTLIST", "A:1:0:0:" + C + "%X~1~~0~0~~~%" + C + ":B:2:0:1:" + C + "%%" + C);
    std::vector<std::string> all;
    for (char c : g)
        for (auto& t : b.feed(std::string_view(&c, 1)))
            all.push_back(t);
    QCOMPARE(all, std::vector<std::string>{g});
}

void ReceiveBufferTests::overflowOfFrame()
{
    ReceiveBuffer b(100);
    const std::string big = frame("CURRENTLIST", std::string(300, 'x'));
    const std::string small = frame("RETKLINIKNAMN", "K");
    std::vector<std::string> out;
    for (std::size_t i = 0; i < big.size(); i += 7) {
        for (auto& t : b.feed(big.substr(i, 7)))
            out.push_back(t);
        QVERIFY(b.held() <= 100 + 7);
    }
    QVERIFY(out.empty());
    QVERIFY(b.takeOverflow());
    QVERIFY(!b.takeOverflow());
    // After the oversized frame (its closing marker cut by the reads) the
    // stream goes on normally: text after it is outside any frame again.
    QCOMPARE(b.feed("ERROR: 9"), std::vector<std::string>{"ERROR: 9"});
    QCOMPARE(b.feed(small), std::vector<std::string>{small});
    QVERIFY(!b.takeOverflow());
    // A frame exactly at the limit is still delivered.
    const std::string atLimit = frame("RETINITEXT", std::string(100 - 24, 'y'));
    QCOMPARE(atLimit.size(), std::size_t(100));
    QCOMPARE(b.feed(atLimit.substr(0, 50)), std::vector<std::string>{});
    QCOMPARE(b.feed(atLimit.substr(50)), std::vector<std::string>{atLimit});
    QVERIFY(!b.takeOverflow());
}

void ReceiveBufferTests::overflowOfBlock()
{
    ReceiveBuffer b(64);
    std::vector<std::string> out;
    auto feed = [&](const std::string& s) {
        for (auto& t : b.feed(s))
            out.push_back(t);
        QVERIFY(b.held() <= 64 + s.size());
    };
    feed(kStart);
    for (int i = 0; i < 50; ++i)
        feed(std::string(10, 'z'));
    QVERIFY(b.held() < 64);
    feed("#DATA");
    feed("END#");
    QVERIFY(out.empty());
    QVERIFY(b.takeOverflow());
    const std::string f = frame("RETINITEXT", "v");
    feed(kStart + f + kEnd);
    QCOMPARE(out, std::vector<std::string>{f});
    QVERIFY(!b.takeOverflow());
}

void ReceiveBufferTests::oversizeFrameInOneRead()
{
    // The decision does not depend on how the bytes were cut.
    ReceiveBuffer b(50);
    const std::string big = frame("RETINITEXT", std::string(60, 'x'));
    const std::string small = frame("RETINITEXT", "ok");
    QCOMPARE(b.feed(big + small), std::vector<std::string>{small});
    QVERIFY(b.takeOverflow());
}

void ReceiveBufferTests::clearForgetsEverything()
{
    ReceiveBuffer b;
    QVERIFY(b.feed(kStart + "abc").empty());
    QVERIFY(b.held() > 0);
    b.clear();
    QCOMPARE(b.held(), std::size_t(0));
    const std::string f = frame("RETINITEXT", "v");
    QCOMPARE(b.feed(f), std::vector<std::string>{f});
}

void ReceiveBufferTests::garbageStaysBounded()
{
    // Pieces of markers in random order: whatever arrives, what is held stays
    // within the limit plus what a cut marker needs, and nothing is made up.
    const char* pieces[] = {"\xA4", "A", "CURRENTLIST", ":", "%", "~", "#DATASTART#", "#DATAEND#", "#DATA",
                            "ERROR: 001", "ERR", " ", ":CURRENTLIST\xA4", "\xA4RETINITEXT:", ":RETINITEXT\xA4"};
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        ReceiveBuffer b(40);
        std::string sent;
        std::size_t emitted = 0;
        for (int i = 0; i < 200; ++i) {
            std::string chunk;
            for (int k = 1 + rng() % 6; k > 0; --k)
                chunk += pieces[rng() % 15];
            sent += chunk;
            for (const std::string& t : b.feed(chunk)) {
                emitted += t.size();
                // The readers take whatever the dispatcher may hand them.
                const CallList l = readCurrentList(t);
                QVERIFY(l.confirmed <= l.callersRead);
                readAllCallables(t);
                readStationCallables(t);
                readClientData(t);
            }
            QVERIFY(b.held() <= 40 + 70);
        }
        QVERIFY(emitted <= sent.size());
        b.takeOverflow();
    }
}

QObject* createReceiveBufferTests() { return new ReceiveBufferTests; }

#include "tst_receivebuffer.moc"
