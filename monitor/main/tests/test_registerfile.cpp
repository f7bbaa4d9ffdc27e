// The register text file: its format pieces, and the main window's upload
// and download against the emulator.
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <chrono>
#include <limits>
#include <thread>

#include "controller.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "core/registerfile.h"
#include "core/textlines.h"
#include "main/registercommands.h"
#include "transfer/frmFile.h"
#include "wire.h"

namespace {

const QString Filter = QStringLiteral("Text Files(*.TXT)|*.TXT|All Files(*.*)|*.*");
const QByteArray Header = "Reg#          Value\r\n\r\n";

QString uploadQuestion(const QString &path) {
    return QStringLiteral("Are you sure you want to Upload register values to file: ") + path +
           QStringLiteral(" from the controller?");
}
QString downloadQuestion(const QString &path) {
    return QStringLiteral("Are you sure you want to Download to registers from file: ") + path +
           QStringLiteral(" to the controller?");
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

// The lines of a file written with CRLF ends (the last one ended too).
QList<QByteArray> linesOf(const QString &path) {
    QByteArray bytes = readAll(path);
    if (!bytes.endsWith("\r\n") || bytes.count('\n') != bytes.count("\r\n")) return {"<not CRLF lines>"};
    bytes.chop(2);
    return bytes.replace("\r\n", "\n").split('\n');
}

// A register line as the print zones lay it out.
QByteArray line(int reg, const QByteArray &value) {
    QByteArray l = QByteArray::number(reg);
    l += QByteArray(14 - l.size(), ' ') + value;
    return l;
}

// Register file text: the header, then "number value" lines.
QByteArray fileOf(const QList<QPair<int, QByteArray>> &entries) {
    QByteArray out = Header;
    for (const auto &[reg, value] : entries) out += line(reg, value) + "\r\n";
    return out;
}

// The reply time-out of these tests: nothing here waits for a time-out (a
// controller that stops answering gives broken replies), so only a hang
// reaches it, however busy the machine.
constexpr int GenerousTimeoutMs = 30000;

// The monitor connected to an emulator, timers stopped, yields counted but
// not processed.
struct Session {
    explicit Session(int model) : peer(model) {
        restartLink();
        main = &quietMainConnectedTo(env, peer, GenerousTimeoutMs);
        installEventPump(&pump);
        peer.controller().clearLog();
    }
    orvemu::Memory &memory() { return peer.controller().memory(); }
    QString path(const QString &name) const { return env.dir() + QStringLiteral("/") + name; }
    QStringList requests() { return requestSummary(peer.controller()); }

    // Register reads of these numbers are refused; `times` > 0 refuses only
    // that many reads in all.
    void refuseReads(QList<int> refused, int times = 0) {
        auto left = std::make_shared<int>(times);
        peer.controller().setHandler(0x09, [refused, left, times](orvemu::Controller &c, const orvemu::Request &r) {
            const int reg = orvemu::u16(r.args.data());
            if (refused.contains(reg) && (times == 0 || (*left)-- > 0))
                return orvemu::shortReply(orvemu::kIllegalRegister);
            std::vector<std::uint8_t> data;
            orvemu::put32(data, static_cast<std::uint32_t>(c.memory().readRegister(reg).value_or(0)));
            return orvemu::replyFrame(0x0A, data);
        });
    }

    // Reads from register `first` on (and blocks of 50 from that block on)
    // get a broken reply: the controller has stopped answering properly.
    void stopAnsweringFrom(int first) {
        const orvemu::Handler single = peer.controller().handler(0x09);
        const orvemu::Handler block = peer.controller().handler(0x4B);
        peer.controller().setHandler(0x09, [=](orvemu::Controller &c, const orvemu::Request &r) {
            return orvemu::u16(r.args.data()) >= first ? orvemu::replyFrame(0x0A, {}) : single(c, r);
        });
        peer.controller().setHandler(0x4B, [=](orvemu::Controller &c, const orvemu::Request &r) {
            return 50 * r.args[0] + 1 >= first ? orvemu::replyFrame(0x4C, {}) : block(c, r);  // block - 1
        });
    }

    // Writes of registers (and V-registers) first to last are refused.
    void refuseWrites(int first, int last) {
        for (const std::uint8_t code : {std::uint8_t{0x0B}, std::uint8_t{0x5F}}) {
            const orvemu::Handler write = peer.controller().handler(code);
            peer.controller().setHandler(code, [=](orvemu::Controller &c, const orvemu::Request &r) {
                const int reg = orvemu::u16(r.args.data());
                return reg >= first && reg <= last ? orvemu::shortReply(orvemu::kIllegalRegister) : write(c, r);
            });
        }
    }

    // Writes from register `first` on get a broken reply: the link is gone.
    void breakWritesFrom(int first) {
        for (const std::uint8_t code : {std::uint8_t{0x0B}, std::uint8_t{0x5F}}) {
            const orvemu::Handler write = peer.controller().handler(code);
            peer.controller().setHandler(code, [=](orvemu::Controller &c, const orvemu::Request &r) {
                return orvemu::u16(r.args.data()) >= first ? orvemu::replyFrame(0x0A, {}) : write(c, r);
            });
        }
    }

    void upload(const QString &file) {
        env.responder.expectFile(file);
        env.responder.expectBox(uploadQuestion(file), mbYes);
        ReadRegistersToFile();
        QVERIFY(env.responder.done());
    }
    void download(const QString &file) {
        env.responder.expectFile(file);
        env.responder.expectBox(downloadQuestion(file), mbYes);
        WriteRegistersFromFile();
        QVERIFY(env.responder.done());
    }
    QString status() const { return main->Message->text(); }

    MonitorTestEnv env;
    EmulatorPeer peer;
    ScriptedPump pump{false};
    frmMain *main = nullptr;
};

}  // namespace

class TestRegisterFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { restartLink(); }

    // ---- Format --------------------------------------------------------------------

    void printZonesAndNumbers() {
        QCOMPARE(printZones({QStringLiteral("Reg#"), QStringLiteral("Value")}), QStringLiteral("Reg#          Value"));
        // An item that fills its zone is still followed by a blank.
        QCOMPARE(printZones({QStringLiteral("12345678901234"), QStringLiteral("x")}),
                 QStringLiteral("12345678901234") + QString(14, u' ') + QStringLiteral("x"));
        QCOMPARE(printedNumber(1.5), QStringLiteral(" 1.5 "));
        QCOMPARE(printedNumber(-0.0), QStringLiteral(" 0 "));
        QCOMPARE(shortestNumberText(100000.0), QStringLiteral("100000"));
        QCOMPARE(shortestNumberText(0.1), QStringLiteral("0.1"));
        QCOMPARE(shortestNumberText(-0.00001), QStringLiteral("-0.00001"));
        QCOMPARE(shortestNumberText(1e20), QStringLiteral("1e+20"));
        QCOMPARE(shortestNumberText(-2147483648.0), QStringLiteral("-2147483648"));
        // Every double reads back as itself.
        for (double v : {1.0 / 3, 0.1 + 0.2, 123456.789e-12, -9.87654321e100, 5e-324, 1e15, 999999999999999.9,
                         std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity()})
            QCOMPARE(RegisterFileReader::realNumber(shortestNumberText(v)), v);
    }

    // A line in a message: at most 40 characters, control bytes shown.
    void quotedLines() {
        const struct {
            QString line, quoted;
        } cases[] = {
            {QStringLiteral("12 x"), QStringLiteral("12 x")},
            {QString(40, u'a'), QString(40, u'a')},
            {QString(41, u'a'), QString(37, u'a') + QStringLiteral("...")},
            {QStringLiteral("a\tb") + QChar(0) + QChar(0x7F), QStringLiteral("a\\x09b\\x00\\x7F")},
            // An escape is never cut in half.
            {QString(35, u'a') + QChar(1) + QStringLiteral("bc"), QString(35, u'a') + QStringLiteral("...")},
            {QString(36, u'a') + QChar(1), QString(36, u'a') + QStringLiteral("\\x01")},
            {QString(10 << 20, u'z'), QString(37, u'z') + QStringLiteral("...")},
        };
        for (const auto &c : cases) {
            QCOMPARE(QuotedLine(c.line), c.quoted);
            QVERIFY(QuotedLine(c.line).size() <= MaxQuotedLength);
        }
    }

    void readerFieldsAndErrors() {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/R.TXT");
        writeAll(path, "Reg#,Value\r\n\r\n1 , 5\r\n\r\n2,-7.5\n3     *\r\n  4 2.5 \r\n\r\n\r\n");
        RegisterFileReader r;
        r.open(path);
        r.skipHeader();
        RegisterFileEntry e = r.next();
        QCOMPARE(RegisterFileReader::wholeNumber(e.number), 1);
        QCOMPARE(RegisterFileReader::wholeNumber(e.value), 5);
        e = r.next();  // the blank line is passed over
        QCOMPARE(RegisterFileReader::wholeNumber(e.value), -8);  // halves to even
        QCOMPARE(RegisterFileReader::realNumber(e.value), -7.5);
        QVERIFY(r.next().failedRead());
        QCOMPARE(RegisterFileReader::wholeNumber(r.next().value), 2);
        QVERIFY(r.atEnd());  // trailing blank lines are no data
        QVERIFY_THROWS_EXCEPTION(RuntimeError, r.next());

        QVERIFY_THROWS_EXCEPTION(RuntimeError, RegisterFileReader::wholeNumber(QStringLiteral("12x")));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, RegisterFileReader::wholeNumber(QStringLiteral("2147483648")));
        writeAll(path, "Reg#\r\n\r\n1 2 3\r\n");
        r.open(path);
        r.skipHeader();
        QVERIFY_THROWS_EXCEPTION(RuntimeError, r.next());  // three fields

        // Carriage returns alone end lines (never one line of three entries).
        writeAll(path, "Reg#\r\r1 5\r\r2 6\r3 7");
        r.open(path);
        QCOMPARE(r.entriesLeft(), 3);
        r.skipHeader();
        QCOMPARE(RegisterFileReader::wholeNumber(r.next().value), 5);
        QCOMPARE(RegisterFileReader::wholeNumber(r.next().value), 6);
        QCOMPARE(r.lineNumber(), 5);
        QCOMPARE(RegisterFileReader::wholeNumber(r.next().value), 7);
        QVERIFY(r.atEnd());
    }

    // ---- Upload ----------------------------------------------------------------------

    void nonEaUploadIsByteExactAndDownloadsBack() {
        Session s(2);
        QVERIFY(!NoComm);
        s.memory().registers[1] = 123;
        s.memory().registers[2] = -5;
        s.memory().registers[1000] = 2147483647;
        s.refuseReads({7});
        const QString path = s.path(QStringLiteral("PLANT.TXT"));
        s.main->CMDialog1.FileName = QStringLiteral("earlier.txt");
        s.upload(path);

        const FileDialogCall dialog = s.env.responder.files().front();
        QCOMPARE(dialog.kind, FileDialogKind::Save);
        QCOMPARE(dialog.title, QStringLiteral("Upload Register from controller"));
        QCOMPARE(dialog.fileName, QString());
        QCOMPARE(dialog.defaultExt, QStringLiteral("TXT"));
        QCOMPARE(dialog.filter, Filter);
        QCOMPARE(dialog.filterIndex, 1);
        QCOMPARE(s.env.responder.boxes().front().buttons, int(mbYesNo));

        const QList<QByteArray> lines = linesOf(path);
        QCOMPARE(lines.size(), 1002);
        QCOMPARE(lines[0], QByteArray("Reg#          Value"));
        QCOMPARE(lines[1], QByteArray());
        QCOMPARE(lines[2], line(1, " 123 "));
        QCOMPARE(lines[3], line(2, "-5 "));
        QCOMPARE(lines[4], line(3, " 0 "));
        QCOMPARE(lines[8], line(7, "*"));
        QCOMPARE(lines[1001], line(1000, " 2147483647 "));
        QCOMPARE(s.status(), QStringLiteral("Register read completed; registers that could not be read (\"*\"): 1."));
        QCOMPARE(s.pump.yields(), 100);
        QCOMPARE(s.requests().size(), 1000);

        // Back into the controller: registers 1 to 1000 only, the failed read
        // passed over.
        s.memory().registers[1] = 0;
        s.memory().registers[2] = 0;
        s.memory().registers[7] = 77;
        s.memory().registers[1000] = 0;
        s.peer.controller().clearLog();
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Register file write completed."));
        QCOMPARE(s.memory().registers[1], 123);
        QCOMPARE(s.memory().registers[2], -5);
        QCOMPARE(s.memory().registers[7], 77);
        QCOMPARE(s.memory().registers[1000], 2147483647);
        const QStringList requests = s.requests();
        // The writes (not register 128, whatever its line holds) and the
        // probe of register 36001.
        QCOMPARE(requests.size(), 998 + 1);
        QVERIFY(!requests.contains(QStringLiteral("put 7=0")));
        QVERIFY(!requests.contains(QStringLiteral("put 128=0")));
        const FileDialogCall open = s.env.responder.files().back();
        QCOMPARE(open.kind, FileDialogKind::Open);
        QCOMPARE(open.fileName, QString());
        QCOMPARE(open.filter, Filter);
        QVERIFY(!s.main->CMDialog1.CancelError);  // the shared dialog is left as other commands expect it
    }

    void eaUploadReadsBlocksBanksAndVRegisters() {
        Session s(5);
        auto &m = s.memory();
        for (int r = 1; r <= 36000; ++r) m.registers[r] = r * 7 - 3000;
        m.vregs.setDouble(36101, 1.5);
        m.vregs.setDouble(36102, -0.1);
        m.vregs.last = 36700;  // the later V-registers do not read
        const QString path = s.path(QStringLiteral("EA.TXT"));
        s.upload(path);
        QCOMPARE(s.status(), QStringLiteral("Register read completed; registers that could not be read (\"*\"): 100."));

        const QList<QByteArray> lines = linesOf(path);
        QCOMPARE(lines.size(), 2 + 1000 + 4000 + 700);
        int k = 2;
        // Register 128 is never read: its line carries "0".
        for (int r = 1; r <= 36000; r = r == 1000 ? 32001 : r + 1)
            QCOMPARE(lines[k++], line(r, r == 128 ? QByteArray("0") : QByteArray::number(r * 7 - 3000)));
        QCOMPARE(lines[5002], line(36101, " 1.5 "));
        QCOMPARE(lines[5003], line(36102, "-0.1 "));
        QCOMPARE(lines[5004], line(36103, " 0 "));
        QCOMPARE(lines[5601], line(36700, " 0 "));
        QCOMPARE(lines[5602], line(36701, "*"));
        QCOMPARE(lines[5701], line(36800, "*"));

        // 19 blocks of 50, block 3 singly but for register 128, the two
        // probes, four banks of a probe and 63 groups, 700 V-registers.
        const QStringList requests = s.requests();
        QCOMPARE(requests.size(), 19 + 49 + 2 + 4 * 64 + 700);
        QVERIFY(!requests.contains(QStringLiteral("get 128")));
        QCOMPARE(requests.mid(68, 3),
                 (QStringList{QStringLiteral("get 32001"), QStringLiteral("get 36001"), QStringLiteral("get 32001")}));
    }

    void eightBanksOnModel14() {
        {
            Session s(14);
            s.memory().registers[39001] = 9;
            s.memory().registers[40000] = 4321;
            const QString path = s.path(QStringLiteral("BIG.TXT"));
            s.upload(path);
            QCOMPARE(s.status(), QStringLiteral("Register read completed."));
            const QList<QByteArray> lines = linesOf(path);
            QCOMPARE(lines.size(), 2 + 1000 + 8000);  // no V-registers on this model
            QCOMPARE(lines[1001 + 7001], line(39001, "9"));
            QCOMPARE(lines.last(), line(40000, "4321"));
        }
        {
            // Register 36001 does not read: four banks.
            Session s(14);
            s.refuseReads({36001});
            const QString path = s.path(QStringLiteral("BIG.TXT"));
            s.upload(path);
            QCOMPARE(linesOf(path).size(), 2 + 1000 + 4000);
        }
        {
            // Another EA model whose register 36001 reads: still four banks;
            // a bank whose first register does not read is left out.
            Session s(6);
            s.refuseReads({34001});
            const QString path = s.path(QStringLiteral("SIX.TXT"));
            s.upload(path);
            const QList<QByteArray> lines = linesOf(path);
            QCOMPARE(lines.size(), 2 + 1000 + 3000);
            QCOMPARE(lines[1001 + 2000], line(34000, "0"));
            QCOMPARE(lines[1001 + 2001], line(35001, "0"));
        }
    }

    // A failed single read in block 3 retries that register only, so the
    // section keeps exactly its 1000 lines.
    void blockThreeRetriesTheFailedRegister() {
        Session s(6);
        s.memory().registers[120] = 1200;
        s.refuseReads({120}, 2);
        const QString path = s.path(QStringLiteral("RETRY.TXT"));
        s.upload(path);
        QCOMPARE(s.status(), QStringLiteral("Register read completed."));
        const QList<QByteArray> lines = linesOf(path);
        QCOMPARE(lines.size(), 2 + 1000 + 4000);
        for (int i = 1; i <= 1000; ++i) QVERIFY(lines[1 + i].startsWith(QByteArray::number(i) + ' '));
        QCOMPARE(lines[1 + 120], line(120, "1200"));
        const QStringList requests = s.requests();
        QCOMPARE(requests.count(QStringLiteral("get 120")), 3);
        QCOMPARE(requests.count(QStringLiteral("get 101")), 1);
    }

    // Reads that fail past three retries end the upload; an earlier file of
    // the name stays as it was (the registers read go beside it), a new file
    // keeps what was written.
    void failedUploadKeepsTheEarlierFile() {
        Session s(6);
        const QString path = s.path(QStringLiteral("GOOD.TXT"));
        const QString partial = s.path(QStringLiteral("GOOD.partial.TXT"));
        writeAll(path, "earlier good file\r\n");
        s.refuseReads({120});
        const QString why = QStringLiteral("a read failed four times (Illegal register number specified.)");
        s.env.responder.expectFile(path);
        s.env.responder.expectBox(uploadQuestion(path), mbYes);
        s.env.responder.expectBox(QStringLiteral("The register upload ended after register 119: ") + why +
                                      QStringLiteral(".\n\nReplace the earlier file ") + path +
                                      QStringLiteral(" with the incomplete one?\n\nNo keeps the earlier file and "
                                                     "saves the registers read as ") +
                                      partial + QStringLiteral("."),
                                  mbNo);
        ReadRegistersToFile();
        QVERIFY(s.env.responder.done());
        QCOMPARE(s.status(), QStringLiteral("Failed to get registers! ") + partial +
                                 QStringLiteral(" holds registers up to 119 only: ") + why + QStringLiteral("."));
        QCOMPARE(s.requests().count(QStringLiteral("get 120")), 4);
        QCOMPARE(readAll(path), QByteArray("earlier good file\r\n"));
        QCOMPARE(linesOf(partial).size(), 2 + 119);
        QCOMPARE(s.pump.yields(), 0);
        QFile::remove(partial);

        const QString fresh = s.path(QStringLiteral("NEW.TXT"));
        s.upload(fresh);
        const QList<QByteArray> lines = linesOf(fresh);
        QCOMPARE(lines.size(), 2 + 119);
        QCOMPARE(lines.last(), line(119, "0"));
        QCOMPARE(QDir(s.env.dir()).entryList({QStringLiteral("*.TXT")}, QDir::Files | QDir::CaseSensitive),
                 (QStringList{QStringLiteral("GOOD.TXT"), QStringLiteral("NEW.TXT")}));

        // Block reads: three failures in block 3 and one more in block 4
        // are four of one count.
        s.peer.controller().setHandler(0x4B, [](orvemu::Controller &, const orvemu::Request &r) {
            if (r.args[0] == 3) return orvemu::shortReply(orvemu::kIllegalRegister);
            std::vector<std::uint8_t> data(r.args.begin(), r.args.end());
            for (int i = 0; i < 50; ++i) orvemu::put32(data, 0);
            return orvemu::replyFrame(0x4C, data);
        });
        s.refuseReads({120}, 3);
        const QString third = s.path(QStringLiteral("THIRD.TXT"));
        s.upload(third);
        QCOMPARE(s.status(), QStringLiteral("Failed to get registers! ") + third +
                                 QStringLiteral(" holds registers up to 150 only: ") + why + QStringLiteral("."));
        QCOMPARE(linesOf(third).size(), 2 + 150);
    }

    // An upload that reads nothing, or has no identified controller, never
    // replaces an existing file, and says why.
    void uploadWithoutAControllerKeepsTheFile() {
        const QByteArray backup = fileOf({{1, "123"}, {2, "-5"}});
        {
            // No controller answers at the address: the link is down, and
            // the command says so before it asks for a file.
            MonitorTestEnv env;
            EmulatorPeer nobody(5);
            nobody.stopServing();
            frmMain &m = quietMain(env, QStringLiteral("[Communications]\ndword \"COMM Port\" 1\n"
                                                       "sz \"IP Address\" \"%1\"\ndword \"Timeout\" 20\n")
                                            .arg(nobody.address()));
            QVERIFY(!ControllerIdentified && NoComm);
            const QString path = env.dir() + QStringLiteral("/BACKUP.TXT");
            writeAll(path, backup);
            ReadRegistersToFile();
            QVERIFY(env.responder.done() && env.responder.files().isEmpty());
            QCOMPARE(readAll(path), backup);
            QVERIFY2(m.Message->text().startsWith(QStringLiteral("Failed to get registers!\nNo communication with the "
                                                                  "controller")),
                     qPrintable(m.Message->text()));
        }
        {
            // A controller that refuses every register read.
            Session s(2);
            QList<int> all;
            for (int r = 1; r <= 1000; ++r) all << r;
            s.refuseReads(all);
            const QString path = s.path(QStringLiteral("BACKUP.TXT"));
            writeAll(path, backup);
            s.env.responder.expectFile(path);
            s.env.responder.expectBox(uploadQuestion(path), mbYes);
            const QString noneRead =
                QStringLiteral("No register could be read from the controller (Illegal register number specified.).\n");
            s.env.responder.expectBox(noneRead + path + QStringLiteral(" was left as it was."));
            ReadRegistersToFile();
            QVERIFY(s.env.responder.done());
            QCOMPARE(readAll(path), backup);
            QCOMPARE(s.status(), QStringLiteral("Failed to get registers!\n") + noneRead + path +
                                     QStringLiteral(" was left as it was."));
            // Nor is a new file of nothing but "*" made.
            const QString fresh = s.path(QStringLiteral("NEW.TXT"));
            s.env.responder.expectFile(fresh);
            s.env.responder.expectBox(uploadQuestion(fresh), mbYes);
            s.env.responder.expectBox(noneRead + fresh + QStringLiteral(" was not written."));
            ReadRegistersToFile();
            QVERIFY(s.env.responder.done());
            QVERIFY(!QFile::exists(fresh));

            // No controller identified: the file's layout is not known.
            controllerLink().markIdentified(false);
            s.env.responder.expectFile(path);
            s.env.responder.expectBox(QStringLiteral("No controller has been identified, so its registers cannot be "
                                                     "uploaded.\n") +
                                      path + QStringLiteral(" was left as it was."));
            ReadRegistersToFile();
            QVERIFY(s.env.responder.done());
            QCOMPARE(s.status(), QStringLiteral("Failed to get registers!\nNo controller has been identified: ") +
                                     path + QStringLiteral(" was left as it was."));
            QCOMPARE(readAll(path), backup);
        }
    }

    // A controller that stops answering in the middle: the third read in a
    // row without an answer ends the upload; the reads run off the window
    // thread behind the progress window; an earlier file is replaced by the
    // incomplete one only with the user's word (No is the default), and the
    // status line says what the file holds.
    void controllerThatStopsAnswering() {
        const QByteArray backup = fileOf({{1, " 5 "}});
        const struct Case {
            int model;
            bool earlier;
            int answer;  // to the question about the earlier file
            int requests;
            int32_t lastLine;  // of the file: the first two reads without an answer are "*"
        } cases[] = {
            {4, true, mbNo, 500 + 3, 502},
            {4, true, mbYes, 500 + 3, 502},
            {4, false, 0, 500 + 3, 502},
            {6, false, 0, 9 + 49 + 3, 500},  // blocks of 50 (the third singly), the failed one tried again
        };
        for (const Case &c : cases) {
            Session s(c.model);
            s.stopAnsweringFrom(501);
            const QString path = s.path(QStringLiteral("BACKUP.TXT"));
            const QString partial = s.path(QStringLiteral("BACKUP.partial.TXT"));
            if (c.earlier) writeAll(path, backup);
            // The window goes on while the reads run: the emulator holds
            // register 250's reply until the window thread has seen the
            // progress window and the status line.
            std::atomic<bool> seen{false};
            bool modal = false, busy = false;
            QString status;
            const orvemu::Handler read = s.peer.controller().handler(0x09);
            s.peer.controller().setHandler(0x09, [&seen, read](orvemu::Controller &ctl, const orvemu::Request &r) {
                for (int i = 0; orvemu::u16(r.args.data()) == 250 && !seen && i < 20000; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return read(ctl, r);
            });
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                if (seen || !formLoaded<frmFile>() || !form<frmFile>().isVisible()) return;
                modal = form<frmFile>().windowModality() == Qt::ApplicationModal;
                busy = controllerLink().busy();
                status = s.status();
                seen = true;
            });
            watch.start(5);
            s.env.responder.expectFile(path);
            s.env.responder.expectBox(uploadQuestion(path), mbYes);
            // A failure of the link says where the link goes.
            const QString why = QStringLiteral("the controller stopped answering (Unknown packet error. at UDP ") +
                                s.peer.address() + QStringLiteral(":3000)");
            if (c.earlier)
                s.env.responder.expectBox(QStringLiteral("The register upload ended after register %1: ").arg(c.lastLine) + why +
                                              QStringLiteral(".\n\nReplace the earlier file ") + path +
                                              QStringLiteral(" with the incomplete one?\n\nNo keeps the earlier file "
                                                             "and saves the registers read as ") +
                                              partial + QStringLiteral("."),
                                          c.answer);
            ReadRegistersToFile();
            QVERIFY(s.env.responder.done());
            if (c.earlier) QCOMPARE(s.env.responder.boxes().last().style & mbDefaultButton2, int(mbDefaultButton2));
            if (c.model == 4) {
                QVERIFY(seen);
                QVERIFY(modal);
                QVERIFY(busy);
                QVERIFY2(status.startsWith(QStringLiteral("Reading registers, please wait ...\n")), qPrintable(status));
            }
            QVERIFY(!controllerLink().busy());
            QCOMPARE(s.requests().size(), c.requests);
            const QString holder = c.answer == mbNo ? partial : path;
            QCOMPARE(s.status(), QStringLiteral("Failed to get registers! ") + holder +
                                     QStringLiteral(" holds registers up to %1 only: ").arg(c.lastLine) + why +
                                     QStringLiteral("."));
            const QList<QByteArray> lines = linesOf(holder);
            QCOMPARE(lines.size(), 2 + c.lastLine);
            QCOMPARE(lines[2 + 499], line(500, c.model == 4 ? " 0 " : "0"));
            QCOMPARE(lines.last(), line(c.lastLine, c.model == 4 ? "*" : "0"));
            if (c.answer == mbNo) QCOMPARE(readAll(path), backup);
            else QVERIFY(!QFile::exists(partial));
        }
    }

    // ---- Download ----------------------------------------------------------------------

    void eaDownloadRoundTrip() {
        Session s(5);
        auto &m = s.memory();
        for (int r = 1; r <= 1000; ++r) m.registers[r] = r * 3 - 1000;
        for (int r = 32001; r <= 36000; ++r) m.registers[r] = r;
        m.vregs.setDouble(36101, 0.1 + 0.2);
        m.vregs.setDouble(36800, -1e20);
        const QString path = s.path(QStringLiteral("ROUND.TXT"));
        s.upload(path);
        const auto saved = m.registers;

        std::fill(m.registers.begin() + 1, m.registers.begin() + 1001, 0);
        std::fill(m.registers.begin() + 32001, m.registers.begin() + 36001, 0);
        m.vregs.entries.clear();
        QStringList seen;
        // The download holds the link as every transfer does: a polling
        // tick in one of its yields reads nothing.
        int held = 0;
        s.pump.every([&](long) {
            seen << s.status();
            held += controllerLink().busy();
            s.main->Timer1_Timer();
        });
        m.registers[128] = 1280;
        s.peer.controller().clearLog();
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Register file write completed."));
        QCOMPARE(held, seen.size());
        QCOMPARE(s.requests().count(QStringLiteral("get 1")), 0);
        QVERIFY(!controllerLink().busy());
        // Register 128 keeps what it holds; every other register is back.
        QCOMPARE(m.registers[128], 1280);
        m.registers[128] = saved[128];
        QVERIFY(std::equal(m.registers.begin(), m.registers.begin() + 36001, saved.begin()));
        QCOMPARE(m.vregs.getDouble(36101), 0.1 + 0.2);
        QCOMPARE(m.vregs.getDouble(36800), -1e20);
        QCOMPARE(m.vregs.at(36500).type, 16);

        // One yield after the first section, one every 100 bank lines, one per V-register.
        QCOMPARE(seen.size(), 1 + 40 + 700);
        QCOMPARE(seen[0], QStringLiteral("Registers 901 to 1000 downloaded!"));
        QCOMPARE(seen[2], QStringLiteral("Registers 901 to 1000 downloaded!"));  // bank line 100 not yet written
        QCOMPARE(seen[3], QStringLiteral("Registers 32001 to 32100 downloaded!"));
        QCOMPARE(seen[41], QStringLiteral("Register 36101 downloaded!"));
        QCOMPARE(seen.last(), QStringLiteral("Register 36800 downloaded!"));
    }

    // The bank section takes at most 4000 lines (8000 where the upper banks
    // exist); on model 5 the lines after it are V-registers.
    void bankSectionLineLimit() {
        QList<QPair<int, QByteArray>> entries;
        for (int r = 1; r <= 1000; ++r) entries.append({r, "1"});
        for (int r = 32001; r <= 36500; ++r) entries.append({r, QByteArray::number(r - 30000)});
        const QByteArray text = fileOf(entries);
        {
            Session s(6);
            const QString path = s.path(QStringLiteral("LONG.TXT"));
            writeAll(path, text);
            s.download(path);
            QCOMPARE(s.status(), QStringLiteral("Register file write completed."));
            QCOMPARE(s.memory().registers[36000], 6000);
            QCOMPARE(s.memory().registers[36001], 0);
        }
        {
            Session s(5);
            const QString path = s.path(QStringLiteral("LONG.TXT"));
            writeAll(path, text);
            s.download(path);
            QCOMPARE(s.memory().registers[36001], 0);
            QCOMPARE(s.memory().vregs.getDouble(36001), 6001.0);
            QCOMPARE(s.memory().vregs.getDouble(36500), 6500.0);
        }
        {
            Session s(14);
            const QString path = s.path(QStringLiteral("LONG.TXT"));
            writeAll(path, text);
            s.download(path);
            QCOMPARE(s.memory().registers[36500], 6500);
        }
    }

    // "*" is passed over in both register sections; the first failed write
    // ends the bank section; a number beyond 16 bits is never sent.
    void failedReadsAndFailedWrites() {
        Session s(6);
        QList<QPair<int, QByteArray>> entries;
        for (int r = 1; r <= 999; ++r) entries.append({r, r == 5 ? "*" : "9"});
        entries.append({65537, "7"});  // not register 1
        entries.append({32001, "*"});
        entries.append({32002, "8"});
        entries.append({2001, "1"});  // an input: refused
        entries.append({32003, "8"});
        s.memory().registers[5] = 55;
        s.memory().registers[32001] = 31;
        const QString path = s.path(QStringLiteral("STARS.TXT"));
        writeAll(path, fileOf(entries));
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\nThe download ended at line 1005 of ") + path +
                                 QStringLiteral(", where the controller refused a non-volatile register: the lines "
                                                "after it were not written.\n998 lines written, 2 refused (the first: "
                                                "register 65537 at line 1002, no such register, not sent)."));
        QCOMPARE(s.memory().registers[5], 55);
        QCOMPARE(s.memory().registers[32001], 31);
        QCOMPARE(s.memory().registers[32002], 8);
        QCOMPARE(s.memory().registers[1], 9);
        QCOMPARE(s.memory().registers[32003], 0);
        QVERIFY(!s.requests().contains(QStringLiteral("put 1=7")));
    }

    // Refused writes in each section, and a link lost on the way: the end
    // says how many lines were written and refused, with the first refusal
    // (or where the link went), and never that the write completed. The
    // first refused write of the bank section ends the download: no bank
    // line is ever written as a V-register.
    void downloadSaysWhatWasNotWritten() {
        QList<QPair<int, QByteArray>> entries;
        for (int r = 1; r <= 1000; ++r) entries.append({r, QByteArray::number(r)});
        for (int r = 32001; r <= 36000; ++r) entries.append({r, QByteArray::number(r)});
        for (int r = 36101; r <= 36800; ++r) entries.append({r, QByteArray::number(r) + ".5"});
        const QByteArray text = fileOf(entries);
        const QString illegal = QStringLiteral("Illegal register number specified.");
        const struct Case {
            const char *what;
            int first, last;  // writes refused
            int broken;       // writes from here on get a broken reply (0: none)
            QString end;      // the status line after the file's name
            int vWrites;      // V-register writes sent
            int lastPut;      // the last register write sent
        } cases[] = {
            {"registers 501 to 1000 refused", 501, 1000, 0,
             QStringLiteral(" was read: 5199 lines written, 500 refused (the first: register 501 at line 503, ") +
                 illegal + QStringLiteral(")."),
             700, 36000},
            {"the first bank register refused", 32001, 32001, 0,
             QStringLiteral(", where the controller refused a non-volatile register: the lines after it were not "
                            "written.\n999 lines written, 1 refused (the first: register 32001 at line 1003, ") +
                 illegal + QStringLiteral(")."),
             0, 32001},
            {"the V-registers refused", 36101, 36800, 0,
             QStringLiteral(" was read: 4999 lines written, 700 refused (the first: register 36101 at line 5003, ") +
                 illegal + QStringLiteral(")."),
             700, 36000},
            {"link lost in registers 1 to 1000", 0, 0, 600, QStringLiteral(".\n598 lines written, 0 refused."), 0, 600},
            {"link lost in the banks", 0, 0, 33000, QStringLiteral(".\n1998 lines written, 0 refused."), 0, 33000},
            {"link lost in the V-registers", 0, 0, 36500, QStringLiteral(".\n5398 lines written, 0 refused."), 400,
             36000},
        };
        for (const Case &c : cases) {
            Session s(5);
            const QString path = s.path(QStringLiteral("PLANT.TXT"));
            writeAll(path, text);
            if (c.first > 0) s.refuseWrites(c.first, c.last);
            if (c.broken > 0) s.breakWritesFrom(c.broken);
            s.download(path);
            const QStringList sent = s.requests();
            QVERIFY2(!s.status().contains(QStringLiteral("completed")), c.what);
            if (c.broken == 0) {
                const QString head = c.first == 32001 ? QStringLiteral("Failed to write registers!\nThe download ended at line 1003 of ")
                                                      : QStringLiteral("Failed to write registers!\nEvery line of ");
                QCOMPARE(s.status(), head + path + c.end);
                QVERIFY2(!NoComm && controllerLink().up(), c.what);
            } else {
                const int line = c.broken < 36101 ? 2 + (c.broken < 32001 ? c.broken : c.broken - 31000)
                                                  : 2 + 5000 + c.broken - 36100;
                const QString where = QStringLiteral("\nThe download stopped at line %1 of ").arg(line) + path;
                QVERIFY2(s.status().startsWith(QStringLiteral("Failed to write registers!\nNo communication with the "
                                                              "controller (Unknown packet error.")),
                         qPrintable(s.status()));
                QVERIFY2(s.status().endsWith(where + c.end), qPrintable(s.status()));
                QVERIFY2(!controllerLink().up(), c.what);
                // Nothing after the write that found the link gone.
                QCOMPARE(sent.last(), c.broken < 36101 ? QStringLiteral("put %1=%1").arg(c.broken)
                                                       : QStringLiteral("code 5F"));
            }
            QCOMPARE(sent.count(QStringLiteral("code 5F")), c.vWrites);
            QCOMPARE(sent.filter(QStringLiteral("put ")).last(), QStringLiteral("put %1=%1").arg(c.lastPut));
        }
    }

    // The failure names the file, the line and what is wrong with it.
    void shortOrBadFileFails() {
        Session s(2);
        QList<QPair<int, QByteArray>> entries;
        for (int r = 1; r <= 10; ++r) entries.append({r, QByteArray::number(r * 10)});
        const QString path = s.path(QStringLiteral("SHORT.TXT"));
        writeAll(path, fileOf(entries));
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\n") + path +
                                 QStringLiteral(", line 12: Input past end of file\n10 lines written, 0 refused."));
        QCOMPARE(s.memory().registers[10], 100);  // written as far as the file goes

        entries.append({11, "twelve"});
        writeAll(path, fileOf(entries));
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\n") + path +
                                 QStringLiteral(", line 13: Type mismatch: twelve\n10 lines written, 0 refused."));

        // A bad line is quoted in at most 40 characters, control bytes shown.
        entries.removeLast();
        writeAll(path, fileOf(entries) + "11 " + QByteArray(5 << 20, 'x') + "\r\n");
        s.peer.controller().clearLog();
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\n") + path +
                                 QStringLiteral(", line 13: Line longer than 1024 characters: 11 ") +
                                 QString(34, u'x') + QStringLiteral("..."));
        QCOMPARE(s.requests(), QStringList());  // refused before the first write
        writeAll(path, fileOf(entries) + "11\t\x01" + QByteArray(60, 'y') + "\r\n");
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\n") + path +
                                 QStringLiteral(", line 13: Type mismatch: \\x01") + QString(33, u'y') +
                                 QStringLiteral("...\n10 lines written, 0 refused."));

        // More lines than any register file holds: refused before the first write.
        QByteArray huge = Header;
        for (int r = 0; r <= MaxRegisterLines; ++r) huge += "1 1\r";  // carriage returns alone end lines too
        writeAll(path, huge);
        s.peer.controller().clearLog();
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\n") + path +
                                 QStringLiteral(", line 9703: More register lines than a register file holds (9700)"));
        QCOMPARE(s.requests(), QStringList());
        // ... and so are more lines than a register file has, blank ones included.
        writeAll(path, Header + QByteArray(4 * MaxRegisterLines, '\n'));
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\n") + path +
                                 QStringLiteral(", line 38801: More lines than a register file holds (38800)"));

        QFile::remove(path);
        s.download(path);
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\nFile not found: ") + path);
    }

    // ---- Dialogs and questions ------------------------------------------------------------

    void cancelAndNo() {
        Session s(2);
        s.main->Message->setText(QStringLiteral("before"));
        // The upload's dialog: a cancel ends it quietly.
        s.env.responder.expectFile(std::nullopt);
        ReadRegistersToFile();
        QCOMPARE(s.status(), QStringLiteral("before"));
        QCOMPARE(s.env.responder.boxes().size(), 0);

        // The download's dialog: a cancel is a failed download.
        s.env.responder.expectFile(std::nullopt);
        WriteRegistersFromFile();
        QCOMPARE(s.status(), QStringLiteral("Failed to write registers!\nCancel was selected."));
        QVERIFY(!s.main->CMDialog1.CancelError);

        // ... and leaves no trace in a later upload.
        s.main->Message->setText(QStringLiteral("before"));
        s.env.responder.expectFile(std::nullopt);
        ReadRegistersToFile();
        QCOMPARE(s.status(), QStringLiteral("before"));

        // An empty name, or No to the question, ends either command quietly.
        const QString path = s.path(QStringLiteral("NO.TXT"));
        s.env.responder.expectFile(QString());
        WriteRegistersFromFile();
        s.env.responder.expectFile(path);
        s.env.responder.expectBox(uploadQuestion(path), mbNo);
        ReadRegistersToFile();
        writeAll(path, fileOf({{1, "5"}}));
        s.env.responder.expectFile(path);
        s.env.responder.expectBox(downloadQuestion(path), mbNo);
        WriteRegistersFromFile();
        QVERIFY(s.env.responder.done());
        QCOMPARE(s.status(), QStringLiteral("before"));
        QCOMPARE(readAll(path), fileOf({{1, "5"}}));
        QCOMPARE(s.requests(), QStringList());
    }
};

QTEST_MAIN(TestRegisterFile)
#include "test_registerfile.moc"
