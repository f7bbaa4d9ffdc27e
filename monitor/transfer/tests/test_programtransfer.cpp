// Program transfer: the register file beside the object file, uploaded from
// and downloaded to the emulator, and the program itself.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <memory>

#include "controller.h"
#include "core/globals.h"
#include "core/registerfile.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "transfer/codeUploadDownload.h"
#include "transfer/frmFile.h"
#include "transfer/frmLoadMain.h"
#include "wire.h"

namespace {

QStringList linesOf(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"));
}

void writeText(const QString &path, const QString &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toLatin1());
}

// The register file's line of a register and a value, both as text.
QString textLine(int reg, int value) { return QString::number(reg).leftJustified(14) + QString::number(value); }

QByteArray bytesOf(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Transfer {
    explicit Transfer(int model, bool withSettings = false) : peer(model) {
        restartLink();
        if (withSettings) quietMainConnectedTo(env, peer, 300);
        else quietMain(env);
        ok = peer.connectMonitor(300);
        objectFile = env.dir() + QStringLiteral("/LINE.DSO");
        textFile = env.dir() + QStringLiteral("/LINE.txt");
    }
    ~Transfer() { disconnectMonitor(); }
    orvemu::Memory &memory() { return peer.controller().memory(); }

    MonitorTestEnv env;
    EmulatorPeer peer;
    bool ok = false;
    QString objectFile, textFile;
};

// Answers as the test's responder does, and notes what the main window
// showed while each box was up.
class WatchingResponder : public DialogResponder {
public:
    explicit WatchingResponder(ScriptedResponder &inner) : inner_(inner) { installDialogResponder(this); }
    ~WatchingResponder() override { installDialogResponder(&inner_); }
    int answerBox(const MsgBoxCall &call) override {
        const frmMain &m = form<frmMain>();
        shown.append({call.prompt, m.Message->text(), m.SuspendButton->Caption()});
        return inner_.answerBox(call);
    }
    FileDialogAnswer answerFile(const FileDialogCall &call) override { return inner_.answerFile(call); }
    struct Shown {
        QString prompt, status, button;
    };
    QList<Shown> shown;

private:
    ScriptedResponder &inner_;
};

}  // namespace

class TestProgramTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void registerFileName() {
        QCOMPARE(RegisterFileOf(QStringLiteral("/a/LINE.DSO")), QStringLiteral("/a/LINE.txt"));
        QCOMPARE(RegisterFileOf(QStringLiteral("X.D")), QString());
    }

    // A controller that is not EA: registers 1 to 1000 one by one, values
    // printed as numbers, "*" where a read fails.
    void uploadFromAControllerThatIsNotEa() {
        Transfer t(2);
        QVERIFY(t.ok);
        t.memory().registers[1] = 123;
        t.memory().registers[2] = -5;
        t.env.responder.expectBox(QStringLiteral("Register upload completed!"));
        UploadRegisters(ConnectionHandle, 0, t.objectFile);
        QVERIFY(t.env.responder.done());
        const QStringList lines = linesOf(t.textFile);
        QCOMPARE(lines.size(), 1003);  // 1002 lines, each ended
        QCOMPARE(lines[0], QStringLiteral("Reg#          Value"));
        QCOMPARE(lines[1], QString());
        QCOMPARE(lines[2], QStringLiteral("1              123 "));
        QCOMPARE(lines[3], QStringLiteral("2             -5 "));
        QCOMPARE(lines[1001], QStringLiteral("1000           0 "));
        QVERIFY(!formLoaded<frmFile>());
        QCOMPARE(form<frmLoadMain>().Label2->text(), QString());
    }

    // An EA controller of model 14: blocks of 50, then eight banks of
    // non-volatile registers up to the highest register.
    void uploadEightBanks() {
        Transfer t(14);
        QVERIFY(t.ok);
        t.memory().registers[128] = 12800;
        t.memory().registers[32001] = 1;
        t.memory().registers[40000] = 4;
        t.env.responder.expectBox(QStringLiteral("Register upload completed!"));
        UploadRegisters(ConnectionHandle, 1, t.objectFile);
        QVERIFY(t.env.responder.done());
        const QStringList lines = linesOf(t.textFile);
        QCOMPARE(lines.size(), 2 + 1000 + 8000 + 1);
        QCOMPARE(lines[2 + 127], textLine(128, 12800));
        QCOMPARE(lines[2 + 1000], textLine(32001, 1));
        QCOMPARE(lines[2 + 8999], textLine(40000, 4));
    }

    // An earlier register file is kept when the new one is refused or fails.
    void uploadKeepsAnEarlierFile() {
        Transfer t(5);
        QVERIFY(t.ok);
        writeText(t.textFile, QStringLiteral("earlier"));
        const QString question = QStringLiteral("File ") + t.textFile +
                                 QStringLiteral(" already exists. Do you want to Overwrite it?");
        t.env.responder.expectBox(question, mbNo);
        t.env.responder.answerEveryBox(mbOK);
        UploadRegisters(ConnectionHandle, 1, t.objectFile);
        QVERIFY(t.env.responder.prompts().last().startsWith(QStringLiteral("Failed to upload register values!\nError: ")));
        QCOMPARE(linesOf(t.textFile), QStringList{QStringLiteral("earlier")});

        // The link goes down in the middle: the earlier file stays.
        t.env.responder.clear();
        t.env.responder.expectBox(question, mbYes);
        t.env.responder.answerEveryBox(mbOK);
        t.peer.controller().setFault({orvemu::FaultKind::Drop, -1, 0, 0, {}});
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 20);
        UploadRegisters(ConnectionHandle, 1, t.objectFile);
        t.peer.controller().clearFault();
        QVERIFY(t.env.responder.prompts().last().startsWith(QStringLiteral("Failed to upload register values!\n")));
        QCOMPARE(linesOf(t.textFile), QStringList{QStringLiteral("earlier")});
        QVERIFY(!QFile::exists(t.textFile + QStringLiteral(".tmp")));
    }

    // A program goes up into a new object file with its registers beside it,
    // and down again; each transfer that ends in order closes the link.
    void programRoundTrip() {
        Transfer t(5);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        t.memory().registers[600] = 66;
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbYes);
        t.env.responder.expectBox(QStringLiteral("Register upload completed!"));
        t.env.responder.expectBox(QStringLiteral("Program uploaded to ") + t.objectFile);
        UploadProgram();
        QVERIFY(t.env.responder.done());
        QCOMPARE(ConnectionHandle, 0);
        QVERIFY(QFile::exists(t.objectFile));
        QVERIFY(!QFile::exists(t.objectFile + QStringLiteral(".upload")));
        QCOMPARE(linesOf(t.textFile)[2 + 599], textLine(600, 66));

        QVERIFY(t.peer.connectMonitor(300));
        controllerLink().markIdentified(true);
        t.peer.controller().clearLog();
        t.memory().registers[600] = 0;
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(QStringLiteral("Download Non-Volatile Registers?"), mbYes);
        t.env.responder.answerEveryBox(mbOK);
        DownloadProgram();
        const QString done = t.env.responder.prompts().last();
        QVERIFY2(done.startsWith(t.objectFile + QStringLiteral(" downloaded.\n\nbytes : ")), qPrintable(done));
        QVERIFY(done.endsWith(QStringLiteral("\nerrors : 0\nwarnings : 0\n")));
        QCOMPARE(t.memory().registers[600], 66);
        QCOMPARE(form<frmLoadMain>().Label2->text(), QStringLiteral("Download Complete!"));
        QCOMPARE(ConnectionHandle, 0);
    }

    // An upload that breaks off leaves an earlier object file as it was.
    void failedUploadKeepsTheEarlierProgram() {
        Transfer t(5);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        writeText(t.objectFile, QStringLiteral("earlier program"));
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(t.objectFile + QStringLiteral(" already exists. Do you want to overwrite ?"), mbOK);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbNo);
        t.env.responder.answerEveryBox(mbOK);
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 20);
        t.peer.controller().setFault({orvemu::FaultKind::Drop, -1, 0, 0, {}});
        UploadProgram();
        t.peer.controller().clearFault();
        const QString failed = QStringLiteral("Failed to upload ") + t.objectFile + QStringLiteral(".\nError: ");
        const QStringList prompts = t.env.responder.prompts();
        QVERIFY2(std::any_of(prompts.begin(), prompts.end(), [&](const QString &p) { return p.startsWith(failed); }),
                 qPrintable(prompts.join(u'|')));
        QCOMPARE(linesOf(t.objectFile), QStringList{QStringLiteral("earlier program")});
        QVERIFY(!QFile::exists(t.objectFile + QStringLiteral(".upload")));
    }

    // The controller stops answering in the middle of the data table: the
    // upload ends within seconds, says why, and leaves the earlier program
    // and its register file as they were.
    void uploadBrokenOffKeepsTheEarlierFiles() {
        Transfer t(5);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        t.memory().setTableDimensions(300, 100);
        t.peer.controller().setHandler(0x39, [read = t.peer.controller().handler(0x39)](
                                                 orvemu::Controller &c, const orvemu::Request &r) {
            return orvemu::u16(r.args.data()) > 20 ? std::vector<uint8_t>{} : read(c, r);
        });
        writeText(t.objectFile, QStringLiteral("earlier program"));
        writeText(t.textFile, QStringLiteral("earlier registers"));
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(t.objectFile + QStringLiteral(" already exists. Do you want to overwrite ?"), mbOK);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbYes);
        t.env.responder.answerEveryBox(mbOK);
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 150);
        QElapsedTimer clock;
        clock.start();
        UploadProgram();
        QVERIFY2(clock.elapsed() < 60000, "one time-out per remaining row");
        const QStringList prompts = t.env.responder.prompts();
        const QString failed = QStringLiteral("Failed to upload ") + t.objectFile +
                               QStringLiteral(".\nError: Upload ended: 3 reads in a row failed (");
        QVERIFY2(std::any_of(prompts.begin(), prompts.end(), [&](const QString &p) { return p.startsWith(failed); }),
                 qPrintable(prompts.join(u'|')));
        QCOMPARE(bytesOf(t.objectFile), QByteArray("earlier program"));
        QCOMPARE(bytesOf(t.textFile), QByteArray("earlier registers"));
        QCOMPARE(QDir(t.env.dir()).entryList({QStringLiteral("LINE*")}, QDir::Files),
                 (QStringList{QStringLiteral("LINE.DSO"), QStringLiteral("LINE.txt")}));
        QCOMPARE(ConnectionHandle, 0);
    }

    // A new program never keeps the earlier program's register file under
    // the name that pairs it with the new one: when its own registers were
    // not uploaded (the controller stopped answering, the user would not
    // overwrite the register file, or did not want the registers), the
    // earlier register file goes beside it, and the last box says so.
    void programAndRegistersStayPaired() {
        const struct Case {
            const char *what;
            bool registers;   // the answer to the register question
            bool overwrite;   // the answer to overwriting LINE.txt
            bool stops;       // the controller stops answering at the registers
        } cases[] = {
            {"controller stops", true, true, true},
            {"not overwritten", true, false, false},
            {"no registers", false, false, false},
        };
        for (const Case &c : cases) {
            Transfer t(5);
            QVERIFY(t.ok);
            controllerLink().markIdentified(true);
            writeText(t.objectFile, QStringLiteral("earlier program"));
            writeText(t.textFile, QStringLiteral("earlier registers"));
            if (c.stops)
                t.peer.controller().setHandler(0x4B, [](orvemu::Controller &, const orvemu::Request &) {
                    return orvemu::replyFrame(0x4C, {});
                });
            t.env.responder.expectFile(t.objectFile);
            t.env.responder.expectBox(t.objectFile + QStringLiteral(" already exists. Do you want to overwrite ?"), mbOK);
            t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), c.registers ? mbYes : mbNo);
            if (c.registers)
                t.env.responder.expectBox(QStringLiteral("File ") + t.textFile +
                                              QStringLiteral(" already exists. Do you want to Overwrite it?"),
                                          c.overwrite ? mbYes : mbNo);
            t.env.responder.answerEveryBox(mbOK);
            UploadProgram();
            const QStringList prompts = t.env.responder.prompts();
            if (c.stops)
                QVERIFY2(prompts.contains(QStringLiteral("Failed to upload register values!\nError: Upload ended: 3 "
                                                         "reads in a row failed (Unknown packet error. at UDP ") +
                                          t.peer.address() + QStringLiteral(":3000)")),
                         qPrintable(prompts.join(u'|')));
            const QString old = t.env.dir() + QStringLiteral("/LINE.old.txt");
            QCOMPARE(prompts.last(), QStringLiteral("Program uploaded to ") + t.objectFile +
                                         QStringLiteral("\n\nThe registers were not uploaded: ") + t.objectFile +
                                         QStringLiteral(" has no register file.\nThe earlier register file, which "
                                                        "belongs to the earlier program, is now ") +
                                         old + QStringLiteral("."));
            QCOMPARE(t.env.responder.boxes().last().icon, int(mbExclamation));
            QCOMPARE(bytesOf(t.objectFile).left(2), QByteArray("\xEC\xFE"));  // the new program
            QVERIFY(!QFile::exists(t.textFile));
            QCOMPARE(bytesOf(old), QByteArray("earlier registers"));
        }
    }

    // An upload that counted errors replaces an earlier file only when the
    // user says so; otherwise it is kept beside it, registers and all.
    void incompleteUploadGoesBesideTheEarlierFile() {
        Transfer t(5);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        t.memory().checksumSkew = 1;
        writeText(t.objectFile, QStringLiteral("earlier program"));
        writeText(t.textFile, QStringLiteral("earlier registers"));
        const QString partial = t.env.dir() + QStringLiteral("/LINE.partial.DSO");
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(t.objectFile + QStringLiteral(" already exists. Do you want to overwrite ?"), mbOK);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbYes);
        t.env.responder.expectBox(QStringLiteral("The controller did not give the whole program (errors : 1): the new "
                                                 "file is incomplete.\n\nReplace the earlier file ") +
                                      t.objectFile +
                                      QStringLiteral(" with it?\n\nNo keeps the earlier file and its register file, "
                                                     "and saves the new program as ") +
                                      partial + QStringLiteral("."),
                                  mbNo);
        t.env.responder.expectBox(QStringLiteral("Register upload completed!"));
        t.env.responder.expectBox(QStringLiteral("Program uploaded to ") + partial +
                                  QStringLiteral("\n\nerrors : 1\nThe file is incomplete: the controller did not give "
                                                 "the whole program."));
        UploadProgram();
        QVERIFY(t.env.responder.done());
        QCOMPARE(bytesOf(t.objectFile), QByteArray("earlier program"));
        QCOMPARE(bytesOf(t.textFile), QByteArray("earlier registers"));
        QCOMPARE(bytesOf(partial).at(2), char(1));  // the status byte marks it
        QVERIFY(QFile::exists(t.env.dir() + QStringLiteral("/LINE.partial.txt")));
    }

    // After a transfer the link is shown closed, and the next transfer
    // connects again (or says why it cannot).
    void downloadStraightAfterAnUpload() {
        Transfer t(5, true);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        frmMain &m = form<frmMain>();
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbNo);
        t.env.responder.expectBox(QStringLiteral("Program uploaded to ") + t.objectFile);
        UploadProgram();
        QVERIFY(t.env.responder.done());
        QCOMPARE(ConnectionHandle, 0);
        QVERIFY(!ControllerIdentified);
        QVERIFY(NoComm);
        QCOMPARE(m.SuspendButton->text(), QStringLiteral("Resume Monitoring"));
        QVERIFY(m.Message->text().startsWith(QStringLiteral("Connection closed after the program transfer")));
        QVERIFY(!m.Timer1->Enabled());

        // From the transfer window, which holds the link for the transfer.
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.answerEveryBox(mbOK);
        form<frmLoadMain>().Command1_Click(3);
        QVERIFY2(t.env.responder.prompts().last().startsWith(t.objectFile + QStringLiteral(" downloaded.")),
                 qPrintable(t.env.responder.prompts().join(u'|')));
        QCOMPARE(ConnectionHandle, 0);

        // A controller that does not answer: the reason, not an empty text.
        t.env.responder.clear();
        t.peer.controller().setFault({orvemu::FaultKind::Drop, -1, 0, 0, {}});
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.answerEveryBox(mbOK);
        DownloadProgram();
        t.peer.controller().clearFault();
        const QString failed = t.env.responder.prompts().last();
        const QString head = QStringLiteral("Failed to download ") + t.objectFile + QStringLiteral(".\nError: ");
        QVERIFY2(failed.startsWith(head) && failed.size() > head.size(), qPrintable(failed));
        m.Timer1->setEnabled(false);
    }

    // A controller that stops answering in the middle of a transfer over a
    // serial line: the box gives the step and the library's reason with
    // the port and its device, and while it is up the main window does not
    // show the link as connected: an upload closes it (as every upload
    // does), a download leaves it lost, to be made again.
    void transferBrokenOffOverSerialSaysWhy_data() {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<int>("answered");  // requests answered before the controller goes silent
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("button");
        const QString timedOut = QStringLiteral("Timed out waiting for response from controller on COM1 (%1)");
        // The model read and five pieces of the step length table.
        QTest::newRow("upload") << true << 6 << QStringLiteral("Failed to upload Step Length Table: ") + timedOut
                                << QStringLiteral("Connection closed after the program transfer - Resume Monitoring "
                                                  "reconnects")
                                << QStringLiteral("Resume Monitoring");
        // The check's and the download's model reads, and the start of the load.
        QTest::newRow("download") << false << 3 << timedOut << QStringLiteral("Connection lost - ") + timedOut
                                  << QStringLiteral("Suspend Monitoring");
    }
    void transferBrokenOffOverSerialSaysWhy() {
        QFETCH(bool, upload);
        QFETCH(int, answered);
        QFETCH(QString, reason);
        QFETCH(QString, status);
        QFETCH(QString, button);
        MonitorTestEnv env;
        restartLink();
        EmulatorPeer peer(6, PeerLink::Serial, 0, 1);
        QVERIFY(peer.available());
        frmMain *main = quietMainOnSerial(env, 115200, 400);
        QVERIFY(main);
        QVERIFY(main->Message->text().startsWith(QStringLiteral("Connected to COMM1")));
        const QString objectFile = env.dir() + QStringLiteral("/PLANT.DSO");
        if (!upload)  // a program of one step of 40 bytes
            writeText(objectFile, QString::fromLatin1(QByteArray("\xED\xFE\x00\x28\x01\x00\x00", 7) +
                                                      QByteArray(40, 'U')));
        orvemu::Fault silent;
        silent.kind = orvemu::FaultKind::Drop;
        silent.count = -1;
        silent.after = answered;
        peer.controller().setFault(silent);
        env.responder.expectFile(objectFile);
        if (upload) env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbNo);
        env.responder.answerEveryBox(mbOK);
        WatchingResponder watch(env.responder);
        if (upload) UploadProgram();
        else DownloadProgram();
        peer.controller().clearFault();

        QCOMPARE(watch.shown.size(), upload ? 2 : 1);
        const WatchingResponder::Shown &failed = watch.shown.last();
        QCOMPARE(failed.prompt, (upload ? QStringLiteral("Failed to upload ") : QStringLiteral("Failed to download ")) +
                                    objectFile + QStringLiteral(".\nError: ") + reason.arg(peer.device()));
        QCOMPARE(failed.status, status.contains(u'%') ? status.arg(peer.device()) : status);
        QCOMPARE(failed.button, button);
        QVERIFY(!controllerLink().up());
        if (upload) QVERIFY(!QFile::exists(objectFile));
    }

    // A file that the library's download would refuse is refused before
    // anything is asked or changed: no question about its registers, and
    // nothing reaches the controller but the model read of the library's
    // check (its registers are not written, it is not stopped). The box
    // gives the library's text. Besides files that break off or are none:
    // the other architecture, a data table too large to transfer, and a
    // zero length byte that ends the file inside its record header.
    void downloadOfABrokenFileChangesNothing_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        // The magic of a model 5 file, a clean status byte, and a program
        // record of three bytes that ends after two.
        QTest::newRow("cut") << 5 << QByteArray("\xEC\xFE\x00\x03\x01\x00\x00\x01\x02", 9)
                             << QStringLiteral("Bad object file: it ends at byte 9, inside record 1 (7 bytes from byte 3)");
        QTest::newRow("unknown type") << 5 << QByteArray("\xEC\xFE\x00\x01\x01\x00\x00\x01\x01\x09\x00\x00\x05", 13)
                                      << QStringLiteral("Bad object file: record 2 (at byte 8) has the unknown type 9");
        QTest::newRow("no object file") << 5 << QByteArray("Reg#", 4) << QStringLiteral("Not an object file");
        QTest::newRow("non-EA file, EA controller")
            << 5 << QByteArray("\xEF\xBE\x00", 3)
            << QStringLiteral("Wrong object file architecture - non-EA object file and EA controller.");
        QTest::newRow("EA file, non-EA controller")
            << 2 << QByteArray("\xEC\xFE\x00", 3)
            << QStringLiteral("Wrong object file architecture - EA object file and non-EA controller.");
        // "datasiz": 48896 rows of 254 columns.
        QTest::newRow("table too large")
            << 5 << QByteArray("\xEC\xFE\x00\x04\x03\x00\x00\x00\xBF\xFE\x00", 11)
            << QStringLiteral("Data table of 48896 rows x 254 columns (24839168 bytes) too large to transfer: at most "
                              "129 rows of 254 columns fit the 16-bit addresses of the object file and the "
                              "controller's memory");
        QTest::newRow("zero length in a cut header")
            << 2 << QByteArray("\xEF\xBE\x00\x00\x1D\x00", 6)
            << QStringLiteral("Bad object file: it ends at byte 6, inside record 1 (4 bytes from byte 3)");
    }
    void downloadOfABrokenFileChangesNothing() {
        QFETCH(int, model);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        Transfer t(model);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        QFile cut(t.objectFile);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(bytes);
        cut.close();
        QString text = QStringLiteral("Reg#          Value\r\n\r\n");
        for (int r = 1; r <= 1000; ++r) text += textLine(r, r) + QStringLiteral("\r\n");
        writeText(t.textFile, text);
        t.peer.controller().clearLog();
        t.env.responder.expectFile(t.objectFile);
        // Were the registers asked for, they would be written.
        t.env.responder.answerEveryBox(mbYes);
        DownloadProgram();
        QCOMPARE(t.env.responder.prompts(),
                 QStringList{QStringLiteral("Failed to download ") + t.objectFile + QStringLiteral(".\nError: ") + error});
        QCOMPARE(requestSummary(t.peer.controller()), QStringList{QStringLiteral("get 13008")});
        QCOMPARE(t.memory().registers[600], 0);
        // A refused file is no fault of the link.
        QVERIFY(controllerLink().up());
    }

    // However an upload ends, the link is then shown closed, the same way:
    // while the transfer runs the polling loop leaves the link alone, and
    // no closing of the link is reported as failed.
    void everyUploadEndsWithTheLinkClosed_data() {
        QTest::addColumn<int>("stop");  // 0 never, 1 from the start, 2 once the register phase begins
        QTest::newRow("complete") << 0;
        QTest::newRow("program phase fails") << 1;
        QTest::newRow("controller stops in the register phase") << 2;
    }
    void everyUploadEndsWithTheLinkClosed() {
        QFETCH(int, stop);
        Transfer t(5, true);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        frmMain &m = form<frmMain>();
        // The controller goes silent with the first group of non-volatile
        // registers; the polling loop would tick between the groups.
        auto silent = std::make_shared<std::atomic<bool>>(stop == 1);
        for (uint8_t code : {uint8_t(0x09), uint8_t(0x4D)}) {
            t.peer.controller().setHandler(code, [silent, code, read = t.peer.controller().handler(code)](
                                                     orvemu::Controller &c, const orvemu::Request &r) {
                if (code == 0x4D && *silent == false) *silent = true;
                return *silent ? std::vector<uint8_t>{} : read(c, r);
            });
        }
        if (stop == 1) t.peer.controller().setFault({orvemu::FaultKind::Drop, -1, 0, 0, {}});
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 20);
        m.Timer1->setInterval(1);
        m.Timer1->setEnabled(true);
        t.peer.controller().clearLog();
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbYes);
        t.env.responder.answerEveryBox(mbOK);
        form<frmLoadMain>().Command1_Click(4);
        t.peer.controller().clearFault();

        const QStringList prompts = t.env.responder.prompts();
        for (const QString &p : prompts)
            QVERIFY2(!p.startsWith(QStringLiteral("Error closing connection.")), qPrintable(p));
        QCOMPARE(requestSummary(t.peer.controller()).count(QStringLiteral("get 1")), 0);  // no polling tick
        QCOMPARE(ConnectionHandle, 0);
        QVERIFY(NoComm && !ControllerIdentified && MonitoringSuspended);
        QCOMPARE(m.SuspendButton->text(), QStringLiteral("Resume Monitoring"));
        QVERIFY(!m.StartButton->isEnabled());
        QVERIFY2(m.Message->text().startsWith(QStringLiteral("Connection closed after the program transfer")),
                 qPrintable(m.Message->text()));
        QVERIFY(!m.Timer1->Enabled());
    }

    // An object file named *.txt would be overwritten by its own register
    // file: the save dialog refuses the name, the download does not read
    // the object file as registers.
    void objectFileNamedTxt() {
        Transfer t(5);
        QVERIFY(t.ok);
        const QString clash = t.env.dir() + QStringLiteral("/LINE.txt");
        t.env.responder.expectFile(clash);
        t.env.responder.expectBox(clash + QStringLiteral(" cannot hold a program: its register values would be "
                                                         "written over it. Please choose a name that does not end "
                                                         "in .txt."));
        t.env.responder.expectFile(t.objectFile);
        QString path;
        QCOMPARE(form<frmLoadMain>().SaveDSOFile(path), t.objectFile);
        QVERIFY(t.env.responder.done());
        writeText(clash, QStringLiteral("Reg#          Value\r\n\r\n"));
        t.peer.controller().clearLog();
        DownloadRegisters(ConnectionHandle, clash);
        QCOMPARE(t.env.responder.boxes().size(), 1);
        QCOMPARE(t.peer.controller().requestCount(), 0u);
    }

    // The object-file phase runs off the window thread: the window goes on
    // painting and showing progress, and nothing else reaches the link.
    void transferRunsOffTheWindowThread() {
        Transfer t(5);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        frmMain &m = form<frmMain>();
        m.Timer1->setEnabled(true);
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 2000);
        orvemu::Fault slow;
        slow.kind = orvemu::FaultKind::Delay;
        slow.delayMs = 100;
        slow.count = 10;
        slow.after = 1;
        t.peer.controller().setFault(slow);
        bool seen = false, modal = false, timersHeld = false, closeRefused = false;
        QString progress;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (seen || !controllerLink().busy() || !formLoaded<frmFile>()) return;
            seen = true;
            modal = form<frmFile>().isVisible() && form<frmFile>().windowModality() == Qt::ApplicationModal;
            timersHeld = !m.Timer1->Enabled();
            closeRefused = !m.close() && m.loaded();
            progress = form<frmLoadMain>().Label2->text();
        });
        watch.start(10);
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.expectBox(QStringLiteral("Upload Controller Register Values?"), mbNo);
        t.env.responder.expectBox(QStringLiteral("Program uploaded to ") + t.objectFile);
        UploadProgram();
        QVERIFY(t.env.responder.done());
        QVERIFY(seen);
        QVERIFY(modal);
        QVERIFY(timersHeld);
        QVERIFY(closeRefused);
        QVERIFY2(progress.startsWith(QStringLiteral("Uploading ") + t.objectFile + QStringLiteral("\n")),
                 qPrintable(progress));
        QVERIFY(!controllerLink().busy());
    }

    void downloadRegisters() {
        Transfer t(5);
        QVERIFY(t.ok);
        QString text = QStringLiteral("Reg#          Value\r\n\r\n");
        for (int r = 1; r <= 1000; ++r) text += textLine(r, r == 700 ? 0 : r + 5) + QStringLiteral("\r\n");
        text += textLine(32001, 77) + QStringLiteral("\r\n");
        text += QStringLiteral("32002         *\r\n");  // a register whose read had failed
        text += textLine(32003, 99) + QStringLiteral("\r\n");
        writeText(t.textFile, text);
        t.memory().registers[32002] = 42;

        // No: nothing is written and the controller is not stopped.
        t.env.responder.expectBox(QStringLiteral("Download Non-Volatile Registers?"), mbNo);
        DownloadRegisters(ConnectionHandle, t.objectFile);
        QCOMPARE(t.peer.controller().requestCount(), 0u);

        t.env.responder.expectBox(QStringLiteral("Download Non-Volatile Registers?"), mbYes);
        DownloadRegisters(ConnectionHandle, t.objectFile);
        QVERIFY(t.env.responder.done());
        const QStringList r = requestSummary(t.peer.controller());
        QCOMPARE(r.first(), QStringLiteral("code 3F"));  // stop first
        QCOMPARE(r[1], QStringLiteral("put 501=506"));
        QCOMPARE(r.size(), 1 + 500 + 2);
        QCOMPARE(r.last(), QStringLiteral("put 32003=99"));
        QCOMPARE(t.memory().registers[1], 0);  // below 501: left alone
        QCOMPARE(t.memory().registers[1000], 1005);
        QCOMPARE(t.memory().registers[32002], 42);
        QCOMPARE(form<frmLoadMain>().Label2->text(), QStringLiteral(" Registers Downloaded: 502"));
        QVERIFY(!formLoaded<frmFile>());

        // A short file ends in the failure message; a missing one says nothing.
        writeText(t.textFile, QStringLiteral("Reg#          Value\r\n\r\n") + textLine(501, 1) + QStringLiteral("\r\n"));
        t.env.responder.expectBox(QStringLiteral("Download Non-Volatile Registers?"), mbYes);
        t.env.responder.expectBox(QStringLiteral("Failed to Download Register Values!\n") + t.textFile +
                                  QStringLiteral(", line 3: Input past end of file\n1 line written, 0 refused."));
        DownloadRegisters(ConnectionHandle, t.objectFile);
        QVERIFY(t.env.responder.done());
        // A controller that does not stop gets no register: the box says why, and where the link goes.
        t.peer.controller().clearLog();
        t.peer.controller().setFault({orvemu::FaultKind::Drop, -1, 0, 0, {}});
        OrvComm::ZqSetConnectionTimeout(ConnectionHandle, 20);
        t.env.responder.expectBox(QStringLiteral("Download Non-Volatile Registers?"), mbYes);
        t.env.responder.expectBox(QStringLiteral("Failed to Download Register Values!\nThe controller was not "
                                                 "stopped: Windows socket error: no reply within 3 x 20 ms from ") +
                                  t.peer.address() + QStringLiteral(":3000"));
        DownloadRegisters(ConnectionHandle, t.objectFile);
        t.peer.controller().clearFault();
        QVERIFY(t.env.responder.done());
        QVERIFY(requestSummary(t.peer.controller()).filter(QStringLiteral("put")).isEmpty());
        QFile::remove(t.textFile);
        QVERIFY(DownloadRegisters(ConnectionHandle, t.objectFile).complete);
        QVERIFY(t.env.responder.boxes().size() == 6);
    }

    // A register phase that did not go through whole: refused writes in
    // each phase, the link lost on the way, a file no register file can
    // be. The final box says how many lines were written and refused, with
    // the first refusal, and never reports the registers as downloaded;
    // with the link gone the program is not sent at all.
    void registerPhaseThatDidNotGoThrough_data() {
        QTest::addColumn<int>("refusedFrom");
        QTest::addColumn<int>("refusedTo");
        QTest::addColumn<int>("brokenFrom");  // writes from here get a broken reply (0: none)
        QTest::addColumn<int>("lines");       // register lines in the file
        QTest::addColumn<QString>("registers");
        QTest::addColumn<QString>("lastPut");
        const QString illegal = QStringLiteral("Illegal register number specified.");
        QTest::newRow("501 to 1000 refused")
            << 501 << 1000 << 0 << 1100
            << QStringLiteral("100 lines written, 500 refused (the first: register 501 at line 503, ") + illegal +
                   QStringLiteral(").")
            << QStringLiteral("put 32100=32100");
        QTest::newRow("a bank register refused")
            << 32050 << 32050 << 0 << 1100
            << QStringLiteral("549 lines written, 1 refused (the first: register 32050 at line 1052, ") + illegal +
                   QStringLiteral(").\nThe download of %1 ended at the write refused at line 1052: the lines after "
                                  "it were not written.")
            << QStringLiteral("put 32050=32050");
        QTest::newRow("link lost at 700") << 0 << 0 << 700 << 1100 << QStringLiteral("199 lines written, 0 refused.")
                                          << QStringLiteral("put 700=700");
        QTest::newRow("link lost in a bank") << 0 << 0 << 32010 << 1100
                                             << QStringLiteral("509 lines written, 0 refused.")
                                             << QStringLiteral("put 32010=32010");
        QTest::newRow("too many lines") << 0 << 0 << 0 << int(MaxRegisterLines + 1)
                                        << QStringLiteral("%1, line 9703: More register lines than a register file "
                                                          "holds (9700)\nNo register was written.")
                                        << QString();
    }
    void registerPhaseThatDidNotGoThrough() {
        QFETCH(int, refusedFrom);
        QFETCH(int, refusedTo);
        QFETCH(int, brokenFrom);
        QFETCH(int, lines);
        QFETCH(QString, registers);
        QFETCH(QString, lastPut);
        Transfer t(6);
        QVERIFY(t.ok);
        controllerLink().markIdentified(true);
        // A program of one step of 40 bytes.
        writeText(t.objectFile, QString::fromLatin1(QByteArray("\xED\xFE\x00\x28\x01\x00\x00", 7) + QByteArray(40, 'U')));
        QString text = QStringLiteral("Reg#          Value\r\n\r\n");
        for (int i = 1; i <= lines; ++i) {
            const int reg = i <= 1000 ? i : 31000 + i;
            text += textLine(reg, reg) + QStringLiteral("\r\n");
        }
        writeText(t.textFile, text);
        for (const std::uint8_t code : {std::uint8_t{0x0B}}) {
            const orvemu::Handler write = t.peer.controller().handler(code);
            t.peer.controller().setHandler(code, [=](orvemu::Controller &c, const orvemu::Request &r) {
                const int reg = orvemu::u16(r.args.data());
                if (brokenFrom > 0 && reg >= brokenFrom) return orvemu::replyFrame(0x0A, {});
                return reg >= refusedFrom && reg <= refusedTo ? orvemu::shortReply(orvemu::kIllegalRegister)
                                                              : write(c, r);
            });
        }
        t.peer.controller().clearLog();
        t.env.responder.expectFile(t.objectFile);
        t.env.responder.answerEveryBox(mbYes);
        DownloadProgram();
        const QStringList sent = requestSummary(t.peer.controller());
        const QString last = t.env.responder.prompts().last();
        const QString report = QStringLiteral("The registers were not all written: ") + registers.arg(t.textFile);
        QVERIFY(!form<frmLoadMain>().Label2->text().contains(QStringLiteral("Registers Downloaded")));
        if (brokenFrom > 0) {
            // No program after the link went: the box says where the registers stopped.
            QCOMPARE(last, QStringLiteral("Failed to download ") + t.objectFile +
                               QStringLiteral(".\nThe register download stopped at line %1 of ")
                                   .arg(brokenFrom < 1001 ? brokenFrom + 2 : brokenFrom - 31000 + 2) +
                               t.textFile + QStringLiteral(": ") + controllerLink().lastFailure() +
                               QStringLiteral(".\n") + registers + QStringLiteral("\nThe program was not downloaded."));
            QVERIFY(controllerLink().lastFailure().startsWith(QStringLiteral("Unknown packet error.")));
            QCOMPARE(sent.last(), lastPut);
            QVERIFY(!controllerLink().up());
            QCOMPARE(form<frmLoadMain>().Label2->text(), QStringLiteral("Failed to Download!"));
            return;
        }
        QVERIFY2(last.startsWith(t.objectFile + QStringLiteral(" downloaded.\n\nbytes : ")), qPrintable(last));
        QVERIFY2(last.endsWith(QStringLiteral("\nwarnings : 0\n\n") + report), qPrintable(last));
        QCOMPARE(t.env.responder.boxes().last().style & mbExclamation, int(mbExclamation));
        if (lastPut.isEmpty()) {
            // The file was refused before the controller was stopped.
            QCOMPARE(sent.filter(QStringLiteral("put ")), QStringList());
            QVERIFY(!sent.contains(QStringLiteral("code 3F")));
            QVERIFY(t.env.responder.prompts().contains(QStringLiteral("Failed to Download Register Values!\n") +
                                                       registers.arg(t.textFile)));
        } else {
            QCOMPARE(sent.filter(QStringLiteral("put ")).last(), lastPut);
        }
    }
};

QTEST_MAIN(TestProgramTransfer)
#include "test_programtransfer.moc"
