// Frames, the frames the client sends, and the readers of what it receives.
#include "protocol/Field.h"
#include "protocol/Frame.h"
#include "protocol/Messages.h"
#include "protocol/Readers.h"

#include <QtTest>

#include <random>
#include <string>

using namespace quvo::protocol;

namespace {

const std::string C = "\xA4"; // the frame byte

std::string frame(const std::string& tag, const std::string& body)
{
    return C + tag + ":" + body + ":" + tag + C;
}

// The call-list evaluation as it always read the frame: ExtractField with
// growing indexes. Records are generated complete, so "missing field" never
// arises and the two must agree exactly.
CallList literalCurrentList(const std::string& copy)
{
    CallList list;
    std::string body = copy.substr(13);
    const std::string entryEnd = "%" + C + ":";
    for (;;) {
        const auto e = body.find(entryEnd);
        if (e == std::string::npos)
            break;
        const std::string entry = body.substr(0, e + 3);
        body = body.substr(e + 3);
        if (ExtractField(entry, 0, ':').empty())
            continue;
        CallEntry call;
        call.name = ExtractField(entry, 0, ':');
        call.lopnr = toIntDef(ExtractField(entry, 1, ':'));
        call.colour = toIntDef(ExtractField(entry, 2, ':'));
        call.ix = toIntDef(ExtractField(entry, 3, ':'));
        const auto p = entry.find(C + "%");
        const auto q = entry.find("%" + C);
        std::string callers;
        if (p != std::string::npos && q != std::string::npos && static_cast<long>(q) - static_cast<long>(p) - 2 > 0)
            callers = entry.substr(p + 2, q - p - 2);
        const int tildes = static_cast<int>(std::count(callers.begin(), callers.end(), '~'));
        for (int k = 0; 7 * k <= tildes; ++k) {
            const std::string name = ExtractField(callers, 7 * k, '~');
            if (name.empty())
                break;
            list.anyCaller = true;
            CallerRecord c;
            c.name = name;
            c.lopnr = toIntDef(ExtractField(callers, 7 * k + 1, '~'));
            c.callTime = readDateTime(ExtractField(callers, 7 * k + 2, '~'));
            c.colour = toIntDef(ExtractField(callers, 7 * k + 3, '~'));
            c.comingLopnr = toIntDef(ExtractField(callers, 7 * k + 4, '~'));
            if (c.comingLopnr > 0)
                ++list.confirmed;
            c.comingTime = readDateTime(ExtractField(callers, 7 * k + 5, '~'));
            c.comingName = ExtractField(callers, 7 * k + 6, '~');
            call.callers.push_back(c);
            ++list.callersRead;
        }
        list.entries.push_back(call);
    }
    return list;
}

bool sameList(const CallList& a, const CallList& b)
{
    if (a.anyCaller != b.anyCaller || a.callersRead != b.callersRead || a.confirmed != b.confirmed
        || a.entries.size() != b.entries.size())
        return false;
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const CallEntry& x = a.entries[i];
        const CallEntry& y = b.entries[i];
        if (x.name != y.name || x.lopnr != y.lopnr || x.colour != y.colour || x.ix != y.ix
            || x.callers.size() != y.callers.size())
            return false;
        for (std::size_t j = 0; j < x.callers.size(); ++j) {
            const CallerRecord& c = x.callers[j];
            const CallerRecord& d = y.callers[j];
            if (c.name != d.name || c.lopnr != d.lopnr || c.callTime != d.callTime || c.colour != d.colour
                || c.comingLopnr != d.comingLopnr || c.comingTime != d.comingTime || c.comingName != d.comingName)
                return false;
        }
    }
    return true;
}

} // namespace

class MessageTests : public QObject {
    Q_OBJECT
private slots:
    void findCopyRemove();
    void findFrameNeedsClosingAfterOpening();
    void builders();
    void singleFieldReaders();
    void clientData();
    void stationCallables();
    void allCallables();
    void currentListCases();
    void currentListEntryWithoutCallerBracket();
    void currentListMatchesLiteralReading();
};

void MessageTests::findCopyRemove()
{
    std::string text = "junk" + frame("CURRENTLIST", "A:1:2:3:" + C + "%%" + C) + "tail"
                       + frame("CURRENTLIST", "B:1:2:3:" + C + "%%" + C);
    QVERIFY(hasFrame(text, "CURRENTLIST"));
    const auto span = findFrame(text, "CURRENTLIST");
    QVERIFY(span);
    QCOMPARE(span->start, std::size_t(4));
    const std::string first = frame("CURRENTLIST", "A:1:2:3:" + C + "%%" + C);
    QCOMPARE(span->removeLength, first.size());
    QCOMPARE(span->removeLength - span->copyLength, std::size_t(12)); // 13 closing bytes, ':' kept
    QCOMPARE(std::string(frameCopy(text, *span)), first.substr(0, first.size() - 12));
    QCOMPARE(frameCopy(text, *span).back(), ':');
    removeFrame(text, *span);
    QCOMPARE(text, "junktail" + frame("CURRENTLIST", "B:1:2:3:" + C + "%%" + C));

    // Closing-marker lengths the dispatcher relies on.
    for (auto [tag, len] : {std::pair<const char*, std::size_t>{"RETSERVERVERSION", 18}, {"RETINITEXT", 12},
                            {"QUVOCLIENTDATA", 16}, {"RETKLINIKNAMN", 15}, {"RETSTATIONCALLABLES", 21},
                            {"RETALLCALLABLES", 17}, {"CURRENTLIST", 13}}) {
        QCOMPARE(closingMarker(tag).size(), len);
        const std::string f = frame(tag, "x");
        const auto s = findFrame(f, tag);
        QVERIFY(s);
        QCOMPARE(s->removeLength - s->copyLength + 1, len);
    }
    QCOMPARE(openingMarker("RETINITEXT"), C + "RETINITEXT:");

    // A frame without fields: the closing marker shares the opening's ':'.
    const std::string bare = C + "X:X" + C;
    const auto b = findFrame(bare, "X");
    QVERIFY(b);
    QCOMPARE(std::string(frameCopy(bare, *b)), C + "X:");
    QCOMPARE(b->removeLength, bare.size());
}

void MessageTests::findFrameNeedsClosingAfterOpening()
{
    QVERIFY(!findFrame("no frame here", "RETINITEXT"));
    QVERIFY(!findFrame(C + "RETINITEXT:value", "RETINITEXT"));
    QVERIFY(hasFrame(C + "RETINITEXT:value", "RETINITEXT"));
    QVERIFY(!findFrame(":RETINITEXT" + C + " " + C + "RETINITEXT:value", "RETINITEXT"));
    // A stray closing marker in front does not stand for the frame's end.
    const std::string t = ":RETINITEXT" + C + frame("RETINITEXT", "v");
    const auto s = findFrame(t, "RETINITEXT");
    QVERIFY(s);
    QCOMPARE(readIniText(frameCopy(t, *s)), std::string("v"));
    std::string copy = t;
    removeFrame(copy, *s);
    QCOMPARE(copy, ":RETINITEXT" + C);
}

void MessageTests::builders()
{
    QCOMPARE(buildReconnect("KASSA1", 3), C + "RECONNECT:KASSA1:3:RECONNECT" + C);
    QCOMPARE(buildRegisterAuto("Rum", 3, "Plan 2:a", 255),
             C + "REGISTERUPATEMACHINE:Rum:3:Plan 2:a:255:::REGISTERUPATEMACHINE" + C);
    QCOMPARE(buildRegisterWithLopnr("Rum", 3, "Plan 2", -16777216, 0),
             C + "REGISTERUPATEMACHINE:Rum:3:Plan 2:-16777216::0:REGISTERUPATEMACHINE" + C);
    QCOMPARE(buildPostCallablesRaw("Rum", 3, "12:0:15:1:"), C + "POSTCALLABLESLIST:Rum:3:12:0:15:1:POSTCALLABLESLIST" + C);
    QCOMPARE(buildPostCallables("Rum", 3, {12, 15}), C + "POSTCALLABLESLIST:Rum:3:12:0:15:1:POSTCALLABLESLIST" + C);
    QCOMPARE(buildPostCallables("Rum", 3, {}), C + "POSTCALLABLESLIST:Rum:3:POSTCALLABLESLIST" + C);
    QCOMPARE(buildGetServerVersion("Rum", 3), C + "GETSERVERVERSION:Rum:3:GETSERVERVERSION" + C);
    QCOMPARE(buildGetCallList("Rum"), C + "GETCALLLIST:Rum:1:GETCALLLIST" + C);
    QCOMPARE(buildGetKlinikNamn(), C + "GETKLINIKNAMN:" + C + C + "ADMIN" + C + C + ":2:GETKLINIKNAMN" + C);
    QCOMPARE(buildSetIniText("DATOR7\\ServerSettings", "Port", "2000"),
             C + "SETINITEXT:DATOR7\\ServerSettings:Port:2000:SETINITEXT" + C);
    QCOMPARE(buildSetIniText("\\ServerSettings", "Port", ""), C + "SETINITEXT:\\ServerSettings:Port::SETINITEXT" + C);
    QCOMPARE(buildGetIniText("DATOR7\\CHECKVERSION", "quvohw"), C + "GETINITEXT:DATOR7\\CHECKVERSION:quvohw:GETINITEXT" + C);
    QCOMPARE(buildGetIniText("\\CHECKVERSION", "quvohw"), C + "GETINITEXT:\\CHECKVERSION:quvohw:GETINITEXT" + C);
    QCOMPARE(buildGetAllCallables("Rum"), C + "GETALLCALLABLES:Rum:GETALLCALLABLES" + C);
    QCOMPARE(buildGetStationCallables("Rum"), C + "GETSTATIONCALLABLES:Rum:GETSTATIONCALLABLES" + C);
    QCOMPARE(buildGetNewClient("quvohw", "Rum", 3), C + "GETNEWCLIENT:quvohw:Rum:3:GETNEWCLIENT" + C);
    // Windows-1252 text passes through untouched.
    QCOMPARE(buildGetCallList("V\xE5rd"), C + "GETCALLLIST:V\xE5rd:1:GETCALLLIST" + C);
}

void MessageTests::singleFieldReaders()
{
    auto copyOf = [](const std::string& tag, const std::string& value) {
        const std::string f = frame(tag, value);
        return f.substr(0, f.size() - tag.size() - 1);
    };
    QCOMPARE(readServerVersion(copyOf("RETSERVERVERSION", " 1.10.4 ")), std::string("1.10.4"));
    QCOMPARE(readIniText(copyOf("RETINITEXT", "C:\\temp")), std::string("C")); // cut at its first ':'
    QCOMPARE(readIniText(copyOf("RETINITEXT", "")), std::string());
    QCOMPARE(readKlinikNamn(copyOf("RETKLINIKNAMN", "V\xE5rdcentralen")), std::string("V\xE5rdcentralen"));
}

void MessageTests::clientData()
{
    const auto d = readClientData(C + "QUVOCLIENTDATA:Mottagning:Rum 3:2:255:");
    QCOMPARE(d.name, std::string("Mottagning"));
    QCOMPARE(d.place, std::string("Rum 3"));
    QCOMPARE(d.colour, 2);
    const auto e = readClientData(C + "QUVOCLIENTDATA:A:B:-16776961:");
    QCOMPARE(e.colour, -16776961);
    const auto f = readClientData(C + "QUVOCLIENTDATA:A:");
    QCOMPARE(f.name, std::string("A"));
    QCOMPARE(f.place, std::string());
    QCOMPARE(f.colour, 0);
}

void MessageTests::stationCallables()
{
    QCOMPARE(readStationCallables(C + "RETSTATIONCALLABLES:12:0:15:1:"), (std::vector<int>{12, 15}));
    QCOMPARE(readStationCallables(C + "RETSTATIONCALLABLES::"), std::vector<int>{});
    QCOMPARE(readStationCallables(C + "RETSTATIONCALLABLES:12:0::1:7:2:"), std::vector<int>{12});
    QCOMPARE(readStationCallables(C + "RETSTATIONCALLABLES:x:0:9:1:"), (std::vector<int>{0, 9}));
    // An odd count: the loop ends when its index passes the separators, not at field 0 again.
    QCOMPARE(readStationCallables(C + "RETSTATIONCALLABLES:4:0:5"), (std::vector<int>{4, 5}));
}

void MessageTests::allCallables()
{
    const std::string copy = C + "RETALLCALLABLES:Akuten:12:a:b:c:d:T:R\xF6ntgen:15:a:b:c:d:F: Lab :x:::::T::";
    const auto r = readAllCallables(copy);
    QCOMPARE(r.size(), std::size_t(3));
    QCOMPARE(r[0].name, std::string("Akuten"));
    QCOMPARE(r[0].id, 12);
    QCOMPARE(r[0].activeFlag, std::string("T"));
    QCOMPARE(r[1].name, std::string("R\xF6ntgen"));
    QCOMPARE(r[1].id, 15);
    QCOMPARE(r[1].activeFlag, std::string("F"));
    QCOMPARE(r[2].name, std::string("Lab"));
    QCOMPARE(r[2].id, 0);
    QCOMPARE(readAllCallables(C + "RETALLCALLABLES::").size(), std::size_t(0));
    // A truncated last record still yields its name; the missing flag reads empty.
    const auto t = readAllCallables(C + "RETALLCALLABLES:A:1:");
    QCOMPARE(t.size(), std::size_t(1));
    QCOMPARE(t[0].id, 1);
    QVERIFY(t[0].activeFlag != "F");
}

void MessageTests::currentListCases()
{
    const std::string caller = "Anna~7~2024-01-01 12:00:00~255~0~~~";
    const std::string twoEntries = C + "CURRENTLIST:Akuten:12:255:0:" + C + "%%" + C + ":Lab:15:-1:1:" + C + "%" + caller + "%" + C + ":";
    CallList l = readCurrentList(twoEntries);
    QCOMPARE(l.entries.size(), std::size_t(2));
    QCOMPARE(l.entries[0].name, std::string("Akuten"));
    QCOMPARE(l.entries[0].lopnr, 12);
    QCOMPARE(l.entries[0].colour, 255);
    QVERIFY(l.entries[0].callers.empty());
    QCOMPARE(l.entries[1].colour, -1);
    QCOMPARE(l.entries[1].ix, 1);
    QCOMPARE(l.entries[1].callers.size(), std::size_t(1));
    const CallerRecord& c = l.entries[1].callers[0];
    QCOMPARE(c.name, std::string("Anna"));
    QCOMPARE(c.lopnr, 7);
    QCOMPARE(c.callTime, 45292.5);
    QCOMPARE(c.colour, 255);
    QCOMPARE(c.comingLopnr, 0);
    QCOMPARE(c.comingTime, 0.0);
    QVERIFY(l.anyCaller);
    QCOMPARE(l.callersRead, 1);
    QCOMPARE(l.confirmed, 0);
    QVERIFY(l.hasUnconfirmed());

    // Confirmed by 17: nothing unconfirmed.
    const std::string confirmed = C + "CURRENTLIST:Lab:15:0:1:" + C + "%Anna~7~bad time~255~17~2024-01-01 12:05:00~Bo~%" + C + ":";
    l = readCurrentList(confirmed);
    QCOMPARE(l.callersRead, 1);
    QCOMPARE(l.confirmed, 1);
    QVERIFY(!l.hasUnconfirmed());
    QCOMPARE(l.entries[0].callers[0].callTime, 0.0);
    QCOMPARE(l.entries[0].callers[0].comingName, std::string("Bo"));

    // Coming number empty or unreadable counts as unconfirmed.
    l = readCurrentList(C + "CURRENTLIST:Lab:1:0:1:" + C + "%A~1~~0~~~~B~2~~0~x~~~%" + C + ":");
    QCOMPARE(l.callersRead, 2);
    QCOMPARE(l.confirmed, 0);

    // Entries with empty names are skipped, their callers not read.
    l = readCurrentList(C + "CURRENTLIST: :1:0:1:" + C + "%A~1~~0~~~~%" + C + "::2:0:0:" + C + "%%" + C + ":");
    QVERIFY(l.entries.empty());
    QVERIFY(!l.anyCaller);
    QCOMPARE(l.callersRead, 0);

    // Records joined only between fields: the record is read, the loop ends.
    l = readCurrentList(C + "CURRENTLIST:Lab:1:0:1:" + C + "%A~1~2024-01-01 00:00:00~3~4~2024-01-02 00:00:00~Cy%" + C + ":");
    QCOMPARE(l.callersRead, 1);
    QCOMPARE(l.entries[0].callers[0].comingName, std::string("Cy"));
    QCOMPARE(l.entries[0].callers[0].comingTime, 45293.0);

    // An empty caller name ends the records of that entry.
    l = readCurrentList(C + "CURRENTLIST:Lab:1:0:1:" + C + "%A~1~~0~~~~~2~~0~~~~C~3~~0~~~~%" + C + ":");
    QCOMPARE(l.callersRead, 1);

    QVERIFY(readCurrentList(C + "CURRENTLIST:").entries.empty());
    QVERIFY(readCurrentList("").entries.empty());
}

void MessageTests::currentListEntryWithoutCallerBracket()
{
    // Without "¤%" the caller list is empty; the entry's own fields are not a caller.
    const CallList l = readCurrentList(C + "CURRENTLIST:Lab:1:0:1:%" + C + ":");
    QCOMPARE(l.entries.size(), std::size_t(1));
    QVERIFY(!l.anyCaller);
    QCOMPARE(l.callersRead, 0);
    QVERIFY(!l.hasUnconfirmed());
}

void MessageTests::currentListMatchesLiteralReading()
{
    std::mt19937 rng(20240101);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    const char* names[] = {"", " ", "Akuten", " Lab ", "R\xF6ntgen", "A B"};
    const char* numbers[] = {"", "0", "17", "-3", "x", " 12 ", "2147483648"};
    const char* times[] = {"", "2024-01-01 12:00:00", "2024-02-30 00:00:00", "nu", " 2023-06-15 08:30:15"};
    for (int round = 0; round < 2000; ++round) {
        std::string body;
        const int entries = pick(5);
        for (int e = 0; e < entries; ++e) {
            body += std::string(names[pick(6)]) + ":" + numbers[pick(7)] + ":" + numbers[pick(7)] + ":"
                    + numbers[pick(7)] + ":" + C + "%";
            const int callers = pick(4);
            for (int k = 0; k < callers; ++k) {
                body += std::string(names[pick(6)]) + "~" + numbers[pick(7)] + "~" + times[pick(5)] + "~"
                        + numbers[pick(7)] + "~" + numbers[pick(7)] + "~" + times[pick(5)] + "~" + names[pick(6)];
                if (k + 1 < callers || pick(2))
                    body += "~";
            }
            body += "%" + C + ":";
        }
        const std::string copy = C + "CURRENTLIST:" + body;
        const CallList fast = readCurrentList(copy);
        const CallList slow = literalCurrentList(copy);
        if (!sameList(fast, slow))
            QFAIL(qPrintable(QString::fromLatin1(copy)));
    }
}

QObject* createMessageTests() { return new MessageTests; }

#include "tst_messages.moc"
