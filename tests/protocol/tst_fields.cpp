// Field extraction, the field iterator, integers, versions and date-times.
#include "protocol/Field.h"
#include "protocol/Readers.h"

#include <QtTest>

#include <string>
#include <string_view>

using namespace quvo::protocol;

namespace {

// The extractor written out step by step, 1-based, as the wire has always
// defined it; ExtractField must agree with it everywhere.
std::string literalExtract(const std::string& text, int n, char s)
{
    const std::string u = text + s;
    const int len = static_cast<int>(u.size());
    int start = 1;
    int count = 0;
    for (int pos = 1; pos <= len; ++pos) {
        if (count == n) {
            start = pos;
            break;
        }
        if (u[pos - 1] == s)
            ++count;
    }
    if (start == len)
        return {};
    std::string r = u.substr(start - 1, len - start);
    const auto cut = r.find(s);
    if (cut != std::string::npos)
        r.resize(cut);
    while (!r.empty() && static_cast<unsigned char>(r.front()) <= 32)
        r.erase(r.begin());
    while (!r.empty() && static_cast<unsigned char>(r.back()) <= 32)
        r.pop_back();
    return r;
}

// Calls f with every text of length 0..maxLen over the alphabet.
template <typename F>
void forAllTexts(std::string_view alphabet, int maxLen, F f)
{
    std::string text;
    std::vector<int> digits;
    for (int len = 0; len <= maxLen; ++len) {
        digits.assign(len, 0);
        for (;;) {
            text.resize(len);
            for (int i = 0; i < len; ++i)
                text[i] = alphabet[digits[i]];
            f(text);
            int i = 0;
            while (i < len && ++digits[i] == static_cast<int>(alphabet.size()))
                digits[i++] = 0;
            if (i == len)
                break;
        }
    }
}

} // namespace

class FieldTests : public QObject {
    Q_OBJECT
private slots:
    void extractFieldMatchesLiteralAlgorithm();
    void iteratorYieldsExtractFieldSequence();
    void iteratorSkip();
    void extractFieldQuirks();
    void toIntDefIsLenient();
    void versionNumbers();
    void dateTimes();
};

void FieldTests::extractFieldMatchesLiteralAlgorithm()
{
    // Separator, blanks, control bytes, the frame byte and a letter.
    const std::string alphabet = std::string(":~ a\x01") + '\xA4';
    int checked = 0;
    forAllTexts(alphabet, 6, [&](const std::string& text) {
        const int k = static_cast<int>(std::count(text.begin(), text.end(), ':'));
        for (int n = -2; n <= k + 3; ++n) {
            const std::string expected = literalExtract(text, n, ':');
            if (ExtractField(text, n, ':') != expected || extractFieldView(text, n, ':') != expected) {
                QFAIL(qPrintable(QStringLiteral("text '%1' index %2").arg(QString::fromLatin1(text)).arg(n)));
            }
            ++checked;
        }
    });
    QVERIFY(checked > 100000);
}

void FieldTests::iteratorYieldsExtractFieldSequence()
{
    const std::string alphabet = std::string("~ b\t:") + '\xA4';
    forAllTexts(alphabet, 6, [&](const std::string& text) {
        for (char sep : {'~', ':'}) {
            const int k = static_cast<int>(std::count(text.begin(), text.end(), sep));
            FieldIterator it(text, sep);
            QCOMPARE(it.separatorCount(), static_cast<std::size_t>(k));
            std::string_view f;
            for (int n = 0; n <= k; ++n) {
                QCOMPARE(it.index(), n);
                QVERIFY(it.next(f));
                QCOMPARE(std::string(f), ExtractField(text, n, sep));
            }
            // Where ExtractField would wrap round to field 0, the walk is over.
            QVERIFY(!it.next(f));
            QVERIFY(!it.next(f));
        }
    });
}

void FieldTests::iteratorSkip()
{
    const std::string text = "a:b:c:d:";
    FieldIterator it(text, ':');
    QVERIFY(it.skip(1));
    std::string_view f;
    QVERIFY(it.next(f));
    QCOMPARE(f, std::string_view("b"));
    QVERIFY(it.skip(2)); // now at field 4, the empty one after the last ':'
    QCOMPARE(it.index(), 4);
    QVERIFY(it.next(f));
    QCOMPARE(f, std::string_view(""));
    QVERIFY(!it.skip(0));
    QVERIFY(!it.next(f));

    FieldIterator short_(text, ':');
    QVERIFY(!short_.skip(5)); // passes the four separators
    QVERIFY(!short_.next(f));
    FieldIterator exact(text, ':');
    QVERIFY(exact.skip(4)); // lands on the last field
    QVERIFY(exact.next(f));
    QVERIFY(f.empty());
}

void FieldTests::extractFieldQuirks()
{
    const std::string clinic = "\xA4RETKLINIKNAMN:Kliniken:";
    QCOMPARE(ExtractField(clinic, 1, ':'), std::string("Kliniken"));
    QCOMPARE(ExtractField(clinic, 2, ':'), std::string());
    QCOMPARE(ExtractField(clinic, 3, ':'), std::string("\xA4RETKLINIKNAMN"));
    QCOMPARE(ExtractField(" \t\r\nab c\x01 :x", 0, ':'), std::string("ab c"));
    QCOMPARE(ExtractField("a::b", 1, ':'), std::string());
    for (int n = -1; n < 4; ++n)
        QCOMPARE(ExtractField("", n, ':'), std::string());
    QCOMPARE(ExtractField("  whole text  ", 0, ':'), std::string("whole text"));
    QCOMPARE(ExtractField("  whole text  ", 2, ':'), std::string("whole text"));
    QCOMPARE(trimControl(std::string_view("\0 x \x7f", 5)), std::string_view("x \x7f"));
}

void FieldTests::toIntDefIsLenient()
{
    QCOMPARE(toIntDef("17"), 17);
    QCOMPARE(toIntDef("-255"), -255);
    QCOMPARE(toIntDef("+8"), 8);
    QCOMPARE(toIntDef(" 42\t"), 42);
    QCOMPARE(toIntDef("2147483647"), 2147483647);
    QCOMPARE(toIntDef("-2147483648"), -2147483647 - 1);
    QCOMPARE(toIntDef("2147483648", -9), -9);
    QCOMPARE(toIntDef("99999999999999999999", -9), -9);
    QCOMPARE(toIntDef(""), 0);
    QCOMPARE(toIntDef("-"), 0);
    QCOMPARE(toIntDef("12a"), 0);
    QCOMPARE(toIntDef("1 2", 5), 5);
    QCOMPARE(toIntDef("0x10", 3), 3);
    QCOMPARE(toIntDef("1.5"), 0);
}

void FieldTests::versionNumbers()
{
    QCOMPARE(versionNumber("1.10.4", 0), 1104);
    QCOMPARE(versionNumber("1.10.3", 0), 1103);
    QCOMPARE(versionNumber("1.11.0", 0), 1110);
    QCOMPARE(versionNumber("1.9.12", 0), 1912);
    QCOMPARE(versionNumber("2.0", 0), 20);
    QCOMPARE(versionNumber("1.10.4b", 0), 0);
    QCOMPARE(versionNumber("", -1), -1);
    QCOMPARE(versionNumber("...", 7), 7);
}

void FieldTests::dateTimes()
{
    QCOMPARE(readDateTime("1899-12-30 00:00:00"), 0.0);
    QCOMPARE(readDateTime("1900-01-01 00:00:00"), 2.0);
    QCOMPARE(readDateTime("2024-01-01 12:00:00"), 45292.5);
    QCOMPARE(readDateTime("2024-01-01 06:00"), 45292.25);
    QCOMPARE(readDateTime("2024-01-01"), 45292.0);
    QCOMPARE(readDateTime("2024-1-1 6:0:0"), 45292.25);
    QCOMPARE(readDateTime(" 2024-02-29 18:00:00 "), 45351.75);
    QCOMPARE(readDateTime("1899-12-29 12:00:00"), -1.5);
    QVERIFY(qAbs(readDateTime("2023-06-15 08:30:15") - (45092 + (8 * 3600 + 30 * 60 + 15) / 86400.0)) < 1e-9);

    for (const char* bad : {"", "2024-02-30 10:00:00", "2023-02-29 10:00:00", "2024-13-01 00:00:00",
                            "2024-00-10 00:00:00", "2024-01-01 24:00:00", "2024-01-01 10:60:00",
                            "2024-01-01 10:00:60", "2024-01-01T10:00:00", "24-01-01 10:00:00",
                            "2024-01-01 10", "2024-01-01 10:00:00x", "yesterday", "0000-01-01"}) {
        QCOMPARE(readDateTime(bad), 0.0);
    }
}

QObject* createFieldTests() { return new FieldTests; }

#include "tst_fields.moc"
