// The firmware file reader: plain and compressed files built here, the
// header's forms, the tree's tie rule, the end of the stream, rewinding,
// section lengths, and corrupt or truncated files that must fail rather than
// be read past their end.
#include <QtTest/QTest>

#include "firmwarefiles.h"
#include "harness/harness.h"
#include "transfer/frmProgFlash.h"

using namespace firmware;

namespace {

// Every line until GetLine fails (at most limit), with the EOF flag after each.
struct Lines {
    QStringList lines;
    QList<bool> eof;
};
Lines readAll(frmProgFlash &w, int limit = 100) {
    Lines out;
    QString line;
    while (out.lines.size() < limit && w.GetLine(line)) {
        out.lines << line;
        out.eof << w.FileEOF();
    }
    return out;
}

}  // namespace

class TestFirmwareReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { env = std::make_unique<MonitorTestEnv>(); }
    void cleanup() { env.reset(); }

    void plainLinesEndAtCarriageReturns() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 0;
        const QString path = writeFile(env->dir() + "/a.sr", "one\r\ntwo\rthree\nstill three\r\n\r\nlast");
        QVERIFY(w.OpenFile(path));
        QVERIFY(!w.FileEOF());
        const Lines got = readAll(w);
        QCOMPARE(got.lines, (QStringList{"one", "two", "three\nstill three", "", "last"}));
        QCOMPARE(got.eof, (QList<bool>{false, false, false, false, true}));
        QString line = "kept";
        QVERIFY(!w.GetLine(line));
        QCOMPARE(line, QStringLiteral("kept"));

        // Rewinding reopens the file.
        QVERIFY(w.ResetFile(path));
        QVERIFY(w.GetLine(line));
        QCOMPARE(line, QStringLiteral("one"));
        QVERIFY(!w.OpenFile(env->dir() + "/missing.sr"));
        QVERIFY(w.FileEOF());
    }

    void otherFileModesFail() {
        frmProgFlash &w = form<frmProgFlash>();
        const QString path = writeFile(env->dir() + "/a.sr", "one\r\n");
        w.FileMode = 2;
        QString line = "kept";
        QVERIFY(!w.OpenFile(path));
        QVERIFY(!w.GetLine(line));
        QVERIFY(!w.ResetFile(path));
        QVERIFY(w.FileEOF());
        QCOMPARE(line, QStringLiteral("kept"));
    }

    void compressedTextRoundTrip() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        QStringList text = program("Q41 firmware");
        text << QStringLiteral("ÄÖ high bytes \xFF") << QStringLiteral("Q4\r1R") << QString();
        const QString path = writeFile(env->dir() + "/a.csr", compress(crlfText(text)));
        text[text.size() - 2] = QStringLiteral("Q41R");  // carriage returns never reach a line
        QVERIFY(w.OpenFile(path));
        QVERIFY(!w.HufEOF);
        const Lines got = readAll(w);
        // After the last line feed the end symbol gives one more, empty line.
        QCOMPARE(got.lines, text + QStringList{QString()});
        QVERIFY(got.eof.last());
        QVERIFY(!got.eof[got.eof.size() - 2]);
        QString line = "kept";
        QVERIFY(!w.GetLine(line));
        QCOMPARE(line, QStringLiteral("kept"));

        // Rewound after the end, it decodes the same again.
        QVERIFY(w.ResetFile(path));
        QVERIFY(!w.FileEOF());
        QCOMPARE(readAll(w).lines, got.lines);
    }

    void lastLineWithoutLineFeedEndsTheStream() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/a.csr", compress("first\nsecond"))));
        const Lines got = readAll(w);
        QCOMPARE(got.lines, (QStringList{"first", "second"}));
        QCOMPARE(got.eof, (QList<bool>{false, true}));
    }

    void headerAndTreeAsDescribed() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        // Symbols 10..13 counted 5, 0, 0, 5: seven integers. The tree:
        // 13 = 0, 256 = 10, 10 = 11 (a 0 bit to the lighter node).
        QByteArray file = header({{10, 13, {5, 0, 0, 5}}});
        QCOMPARE(file.size(), 14);
        file += QByteArray::fromHex("6E");  // 0 11 0 11 10: CR LF CR LF end
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/a.csr", file)));
        QCOMPARE(w.headerLength(), int16_t(14));
        const auto &n = w.nodes();
        QCOMPARE(w.rootNode(), int16_t(258));
        QCOMPARE(n[257].child0, int16_t(256));
        QCOMPARE(n[257].child1, int16_t(10));
        QCOMPARE(n[258].child0, int16_t(13));
        QCOMPARE(n[258].child1, int16_t(257));
        QCOMPARE(n[258].savedCount, int16_t(11));
        QCOMPARE(n[10].count, int16_t(0));
        QCOMPARE(n[10].savedCount, int16_t(5));
        QCOMPARE(n[11].savedCount, int16_t(0));  // a count of 0 is left out
        QCOMPARE(readAll(w).lines, (QStringList{"", "", ""}));
        QVERIFY(w.HufEOF);
    }

    void equalCountsGoLowerIndexFirst() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        // A, B and the end symbol all count 1: A = 10, B = 11, end = 0.
        QByteArray file = header({{65, 66, {1, 1}}}) + QByteArray::fromHex("B0");
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/a.csr", file)));
        QCOMPARE(w.nodes()[257].child0, int16_t(65));
        QCOMPARE(w.nodes()[258].child0, int16_t(256));
        QCOMPARE(readAll(w).lines, QStringList{"AB"});
    }

    void headerForms() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        const QByteArray text = "ok\n";
        std::array<int, 257> counts{};
        for (char c : text) ++counts[uint8_t(c)];
        // An empty run (last below first), a count for the end symbol that is
        // replaced by 1, 4095 as a last, and the counts in runs of their own.
        const QByteArray head = header({{300, 4, {}},
                                        {5000, 4095, {}},
                                        {10, 10, {1}},
                                        {107, 107, {1}},
                                        {111, 111, {1}},
                                        {256, 256, {900}}});
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/a.csr", head + stream(text, codes(counts)))));
        QCOMPARE(w.headerLength(), int16_t(head.size()));
        QCOMPARE(w.nodes()[256].savedCount, int16_t(1));
        QCOMPARE(readAll(w).lines, (QStringList{"ok", ""}));
        // 4095 as a count is an ordinary number.
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/b.csr", header({{65, 65, {4095}}}) + QByteArray(600, '\xFF'))));
        QCOMPARE(w.nodes()[65].savedCount, int16_t(4095));
    }

    void emptyTextEndsAtOnce() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        // Only the end symbol: no bits at all.
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/a.csr", header({{65, 65, {0}}}))));
        QCOMPARE(w.rootNode(), int16_t(256));
        QString line = "x";
        QVERIFY(w.GetLine(line));
        QCOMPARE(line, QString());
        QVERIFY(w.FileEOF());
        QVERIFY(!w.GetLine(line));
    }

    void corruptHeadersFailTheOpen() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        const QByteArray good = compress("text\n");
        struct Case {
            const char *name;
            QByteArray bytes;
            bool fatalMessage;
        };
        const QList<Case> cases = {
            {"empty", QByteArray(), true},
            {"inside a run", good.left(5), true},
            {"odd byte before the end", header({{65, 65, {3}}}).left(7), true},
            {"index above the array", header({{600, 600, {1}}}), false},
            {"negative index", header({{-1, 0, {1, 1}}}), false},
            {"counts that overflow", header({{65, 66, {20000, 20000}}}), false},
        };
        for (const Case &c : cases) {
            w.setLogText(QStringLiteral("older"));
            QVERIFY2(!w.OpenFile(writeFile(env->dir() + "/bad.csr", c.bytes)), c.name);
            QCOMPARE(w.logText(), c.fatalMessage ? QStringLiteral("Fatal error reading counts\r\nolder")
                                                 : QStringLiteral("older"));
            QString line = "kept";
            QVERIFY2(!w.GetLine(line), c.name);
            QCOMPARE(line, QStringLiteral("kept"));
        }
        QVERIFY(!w.OpenFile(env->dir() + "/missing.csr"));
        QVERIFY(!QFile::exists(env->dir() + "/missing.csr"));
    }

    void truncatedStreamFailsInsteadOfRunningOn() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        QByteArray text;
        for (int i = 0; i < 40; ++i) text += "S1 record number " + QByteArray::number(i) + "\r\n";
        const QByteArray whole = compress(text);
        const QString path = writeFile(env->dir() + "/a.csr", whole.left(whole.size() - 30));
        QVERIFY(w.OpenFile(path));
        const Lines got = readAll(w, 1000);
        QVERIFY(got.lines.size() > 10);
        QVERIFY(got.lines.size() < 40);
        QCOMPARE(got.lines.last(), QStringLiteral("S1 record number %1").arg(got.lines.size() - 1));
        QVERIFY(!w.HufEOF);
        // Shorter than its header now: rewinding fails.
        writeFile(path, whole.left(3));
        QVERIFY(!w.ResetFile(path));
    }

    void sectionsAndTheirLengths() {
        frmProgFlash &w = form<frmProgFlash>();
        w.FileMode = 1;
        const QStringList text = {"2",           "Q42R variant L1234", "Q44R L 56.5",  "Q42R",    "S1 data",
                                  "END",         "Q44R",               "S1 other",    "END",     "Q90 only at the end L",
                                  "L90 first L", "QX L12 L"};
        QVERIFY(w.OpenFile(writeFile(env->dir() + "/a.csr", compress(crlfText(text)))));
        int32_t length = -1;
        QVERIFY(w.SectionLength("Q42R", length));
        QCOMPARE(length, 1234);
        // Rounded, blanks skipped.
        QVERIFY(w.SectionLength("Q44R", length));
        QCOMPARE(length, 56);
        // The search goes on from there: the next line with the tag, which
        // opens the section and carries no length.
        QVERIFY(!w.SectionLength("Q42R", length));
        QCOMPARE(length, 0);
        QString line;
        QVERIFY(w.GetLine(line));
        QCOMPARE(line, QStringLiteral("S1 data"));
        // An L only at the end, or only first, does not count.
        length = -1;
        QVERIFY(!w.SectionLength("Q90", length));
        QCOMPARE(length, 0);
        QVERIFY(!w.SectionLength("L90", length));
        QVERIFY(w.SectionLength("QX", length));
        QCOMPARE(length, 12);
        QVERIFY(!w.SectionLength("Q41R", length));
        QCOMPARE(length, 0);
        QVERIFY(w.HufEOF);
    }

private:
    std::unique_ptr<MonitorTestEnv> env;
};

QTEST_MAIN(TestFirmwareReader)
#include "test_firmwarereader.moc"
