// Whole firmware updates against the emulator's module on a pseudo-terminal:
// both ways into programming mode, each module type, plain and compressed
// files; the line exchange's waits, data messages and boot confirmation; the
// failures and early ends; and the state the main window is left in.
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QThread>
#include <QtTest/QTest>
#include <algorithm>
#include <deque>
#include <map>
#include <optional>

#include "controller.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "firmwarefiles.h"
#include "harness/harness.h"
#include "main/frmMain.h"
#include "transfer/frmFlashSelect.h"
#include "transfer/frmProgFlash.h"

using namespace firmware;

namespace {

const QString CRLF = QStringLiteral("\r\n");
const QString Failed = QStringLiteral("DOWNLOAD FAILED, CYCLE CONTROLLER POWER BEFORE RETRYING DOWNLOAD\r\n");
const QString NotStarted = QStringLiteral("DOWNLOAD NOT STARTED, NOTHING WAS SENT TO THE CONTROLLER\r\n");
const QString Booted = QStringLiteral("Boot Done\r\nFlash Verified\r\n");
const QString Busy = QStringLiteral("Flash Status 00000010\r\nFlash Status 00000001\r\n");
const QString Handshake = QStringLiteral("Baud: 38400\r\nORV Loader 2.1\r\n");
const QString ResetTimedOut = QStringLiteral("Reset Error: 170 Timed out waiting for response from controller\r\n");

QString confirmation(const QString &ending) {
    return QStringLiteral("Continuing will Reset and Stop the controller and begin firmware download. \r\n"
                          "Ensure that the communications cable is connected directly to ") +
           ending +
           QStringLiteral("\r\nConnecting to the wrong Comm Port can result in corrupting controller memory.\r\n"
                          "Doing a firmware update may cause you to lose your Movrel Program.");
}
const QString CpuConfirm = confirmation(QStringLiteral("the Q40 CPU module to be updated and press OK."));
const QString CommConfirm = confirmation(QStringLiteral("Comm 1 on the Q90/Q91 module to be updated and press OK."));
const QString Q600Confirm = confirmation(QStringLiteral("the Q600 Series Controller to be updated and press OK."));

// A compressed file of sections: the count line, one length line per tag,
// then each section opened by "<tag> firmware" and closed by END.
QByteArray sectionFile(const QStringList &tags) {
    QStringList head{QStringLiteral("Firmware variants %1").arg(tags.size())};
    QStringList body;
    for (const QString &tag : tags) {
        const QStringList records = program(tag);
        head << tag + QStringLiteral(" length L") + QString::number(records.join(QString()).size());
        body << tag + QStringLiteral(" firmware") << records << QStringLiteral("END");
    }
    return compress(crlfText(head + body));
}

// Answers as the test's responder does, and runs `then` once a box with
// the prompt has been answered.
class AfterBox : public DialogResponder {
public:
    AfterBox(ScriptedResponder &inner, QString prompt, std::function<void()> then)
        : inner_(inner), prompt_(std::move(prompt)), then_(std::move(then)) {
        installDialogResponder(this);
    }
    ~AfterBox() override { installDialogResponder(&inner_); }
    int answerBox(const MsgBoxCall &call) override {
        const int answer = inner_.answerBox(call);
        if (call.prompt == prompt_ && then_) std::exchange(then_, {})();
        return answer;
    }
    FileDialogAnswer answerFile(const FileDialogCall &call) override { return inner_.answerFile(call); }

private:
    ScriptedResponder &inner_;
    QString prompt_;
    std::function<void()> then_;
};

// Lines the emulator received that are records.
QStringList recordsReceived(const orvemu::Controller &c) {
    QStringList out;
    for (const auto &r : c.requests())
        if (!r.empty() && r[0] == 'S') out << QString::fromLatin1(reinterpret_cast<const char *>(r.data()), qsizetype(r.size()));
    return out;
}

bool requestSeen(const orvemu::Controller &c, const QByteArray &frame) {
    for (const auto &r : c.requests())
        if (QByteArray(reinterpret_cast<const char *>(r.data()), qsizetype(r.size())) == frame) return true;
    return false;
}
const QByteArray CpuRequest("\x01\x05\x69\x86\x03\x0D\xFF", 7);
const QByteArray CommRequest("\x01\x04\x69\x06\x90\xFF", 6);

}  // namespace

// Reply time-outs: one that only a hang reaches, for exchanges that must
// succeed on a busy machine, and a short one, set just before an exchange
// that a test expects to time out. The serial line waits one whole time-out
// of quiet after each fault, so the first is not longer than it must be:
// still hundreds of times what the emulator takes to answer.
constexpr int HangTimeoutMs = 1000;
constexpr int ExpectedTimeoutMs = 300;

// The monitor connected to the emulator's serial line as COM1 at 9600, the
// firmware window open with short delays.
class Rig {
public:
    explicit Rig(int model, uint32_t lineBaud = 9600, std::function<void(orvemu::Controller &)> before = {})
        : peer(model, PeerLink::Serial, lineBaud, 1) {
        if (before) before(peer.controller());
        env.writeSettings(QStringLiteral("[Communications]\ndword \"COMM Port\" 3\ndword \"BAUD Rate\" 9600\n"
                                         "dword \"Timeout\" 80\n"));
        main = &form<frmMain>();
        main->waitForAttempt();
        w = &form<frmProgFlash>();
        w->DelayScale = 0.05;
        w->FlashTimeoutMs = HangTimeoutMs;
        installEventPump(&pump);
        // Polling stays off and the transfer busy for the whole update.
        pump.every([this](long) {
            if (updating && (!controllerLink().busy() || main->Timer1->Enabled())) pollingDuringUpdate = true;
            awaitPortAnswer();
            if (expectTimeoutWhen && ConnectionHandle != 0 && expectTimeoutWhen()) {
                OrvComm::ZqSetConnectionTimeout(ConnectionHandle, ExpectedTimeoutMs);
                expectTimeoutWhen = nullptr;
            }
        });
    }
    ~Rig() { setScreenMousePointer(PointerDefault); }

    // Starts an update of the module type with the file (nullopt: the file
    // dialog is cancelled) and the confirmation answered.
    void update(int moduleType, const std::optional<QString> &file, const QString &confirm = QString(),
                int answer = mbOK) {
        w->Combo1->setCurrentIndex(moduleType);
        env.responder.expectFile(file);
        if (!confirm.isEmpty()) env.responder.expectBox(confirm, answer);
        handleBefore = ConnectionHandle;
        updating = true;
        w->SSCommand1->click();
        updating = false;
        QVERIFY(env.responder.done());
    }
    QString file(const QString &name, const QByteArray &bytes) { return writeFile(env.dir() + u'/' + name, bytes); }
    orvemu::Controller &controller() { return peer.controller(); }

    // The main window as an update leaves it with monitoring on.
    void checkRestored() {
        // The update ends with a new attempt of the connection manager.
        main->waitForAttempt();
        QVERIFY(!pollingDuringUpdate);
        QVERIFY(!controllerLink().busy());
        QVERIFY(main->Timer1->Enabled());
        QCOMPARE(BaudRate, 9600);
        QCOMPARE(TimeoutMs, 80);
        QVERIFY(!NoComm);
        QVERIFY(ConnectionHandle > handleBefore);
        QCOMPARE(main->Message->text(), QStringLiteral("Connected to COMM1 Baud 9600"));
        QVERIFY(w->ProgressBar1->isHidden());
        QCOMPARE(screenMousePointer(), PointerDefault);
    }

    // The window's own port reads what has come in after a fixed pause; a
    // busy machine can answer later than that. With portAnswerBytes set, the
    // first yield while the port is open waits until that many bytes are in
    // (a bound only a hang reaches), so the pause always ends with the answer.
    int portAnswerBytes = 0;
    // At the first yield where this holds, the update's connection gets the
    // short time-out: the exchanges after it are expected to time out.
    std::function<bool()> expectTimeoutWhen;
    void awaitPortAnswer() {
        if (portAnswerBytes == 0 || !w || !w->MSComm1.PortOpen()) return;
        QElapsedTimer waited;
        waited.start();
        while (w->MSComm1.bytesWaiting() < portAnswerBytes && waited.elapsed() < 10000) QThread::msleep(1);
        portAnswerBytes = 0;
    }

    MonitorTestEnv env;
    EmulatorPeer peer;
    ScriptedPump pump;
    frmMain *main = nullptr;
    frmProgFlash *w = nullptr;
    int32_t handleBefore = 0;
    bool updating = false;
    bool pollingDuringUpdate = false;
};

// A module whose loader answers from a script: XON replies in turn, the baud
// digit echoed, each record by the table (default K1 XOFF).
struct ScriptedLoader {
    std::deque<std::string> xonReplies;
    std::map<std::string, std::string> replies;
    void install(orvemu::Controller &c) {
        c.setTextHandler([this](orvemu::Controller &, std::span<const std::uint8_t> text) {
            const std::string s(text.begin(), text.end());
            std::string r = "K1\x13";
            if (s == "\x11") {
                r = "\x11";
                if (!xonReplies.empty()) {
                    r = xonReplies.front();
                    xonReplies.pop_front();
                }
            } else if (s == "3") {
                r = s;
            } else if (auto it = replies.find(s); it != replies.end()) {
                r = it->second;
            }
            return std::vector<std::uint8_t>(r.begin(), r.end());
        });
    }
};

class TestFirmwareUpdate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cpuModuleFromAPlainFile() {
        Rig rig(11);
        QVERIFY(!NoComm);
        const QStringList lines = program(QStringLiteral("Q41 firmware"));
        rig.update(0, rig.file("Q40_cpu.sr", crlfText(lines)), CpuConfirm);
        QCOMPARE(rig.w->logText(), QStringLiteral("COMPLETED\r\n") + Booted + Busy + Handshake);
        QCOMPARE(rig.env.responder.files().last().filter,
                 QStringLiteral("SR Files, SR1 Files, CSR Files (*.sr; *.sr1; *.csr)|*.sr; *.sr1; *.csr|All Files (*.*)|*.*"));
        QCOMPARE(rig.w->FileMode, int16_t(0));
        QCOMPARE(recordsReceived(rig.controller()), lines);
        QCOMPARE(rig.controller().memory().module.boots(), 1);
        QCOMPARE(rig.controller().memory().module.brokenRecords(), 0);
        QVERIFY(requestSeen(rig.controller(), CpuRequest));
        QCOMPARE(rig.controller().memory().statusWrites, std::vector<uint8_t>{8});
        // Four lines after the first, of the file's bytes.
        const int sent = int(lines.mid(1).join(QString()).size());
        QCOMPARE(rig.w->ProgressBar1->value(), int(float(sent) / float(crlfText(lines).size()) * 100.0f));
        rig.checkRestored();
    }

    void modelCodeRewrittenAndItsSectionSent() {
        Rig rig(13);
        rig.update(0, rig.file("Q40_multi.CSR", sectionFile({"Q42R", "Q41R", "Q44R"})), CpuConfirm);
        QCOMPARE(rig.w->FileMode, int16_t(1));
        QCOMPARE(rig.w->logText(),
                 QStringLiteral("COMPLETED\r\n") + Booted + Busy + QStringLiteral("Q41R firmware\r\n") + Handshake);
        QVERIFY(requestSummary(rig.controller()).contains(QStringLiteral("put 13008=11")));
        // The section alone, without its END.
        QCOMPARE(recordsReceived(rig.controller()), program(QStringLiteral("Q41R")));
        // The lines after the first, END included, of the section's length.
        const QStringList records = program(QStringLiteral("Q41R"));
        const float sent = float(records.mid(1).join(QString()).size() + 3);
        QCOMPARE(rig.w->ProgressBar1->value(),
                 int(std::clamp(sent / float(records.join(QString()).size()) * 100.0f, 0.0f, 100.0f)));
        rig.checkRestored();
    }

    void compressedFileWithoutTheModelsSection() {
        Rig rig(14);
        rig.update(0, rig.file("Q40_multi.csr", sectionFile({"Q41R", "Q42R"})), CpuConfirm);
        QCOMPARE(rig.w->logText(), Failed + QStringLiteral("Invalid File, Does Not Support Q43 CPU Module\r\n"));
        QVERIFY(!requestSeen(rig.controller(), CpuRequest));
        rig.checkRestored();
    }

    void commModuleEndsAskingForAStart() {
        Rig rig(11, 9600, [](orvemu::Controller &c) {
            c.memory().module.port = orvemu::ModuleState::Port::CommModule;
        });
        rig.w->Command1->click();  // 9600 for the transfer
        rig.update(1, rig.file("Q90_comm.csr", sectionFile({"Q90"})), CommConfirm);
        QCOMPARE(rig.w->logText(), QStringLiteral("COMPLETED: START CONTROLLER TO CONTINUE\r\n") + Booted + Busy +
                                       QStringLiteral("Q90 firmware\r\nBaud: 9600\r\nORV Loader 2.1\r\n"));
        QCOMPARE(rig.env.responder.files().last().filter,
                 QStringLiteral("SR Files, CSR Files (*.sr; *.csr)|*.sr; *.csr|All Files (*.*)|*.*"));
        QVERIFY(requestSeen(rig.controller(), CommRequest));
        QCOMPARE(recordsReceived(rig.controller()), program(QStringLiteral("Q90")));
        rig.checkRestored();
    }

    void programmingModeRefusedOrMisunderstood() {
        // The CPU port refuses the communication module's request.
        Rig rig(11);
        rig.update(1, rig.file("Q90.sr", crlfText(program("x"))), CommConfirm);
        QCOMPARE(rig.w->logText(), Failed + QStringLiteral("Connected to Incorrect ORV Port\r\n"));
        rig.checkRestored();

        // A well-formed reply of another length.
        rig.controller().setHandler(0x69, [](orvemu::Controller &, const orvemu::Request &) {
            return std::vector<uint8_t>{0x04, 0x64, 0x00, 0x9B, 0xFF};
        });
        rig.update(0, rig.file("Q40.sr", crlfText(program("x"))), CpuConfirm);
        QCOMPARE(rig.w->logText(), Failed + QStringLiteral("Failed to put into programming mode, Invalid Response\r\n"));
        // No reply at all: the error, then the check.
        rig.controller().setHandler(0x69, [](orvemu::Controller &, const orvemu::Request &) {
            return std::vector<uint8_t>{};
        });
        // (The yield before the programming request follows the reset.)
        const size_t resets = rig.controller().memory().statusWrites.size();
        rig.expectTimeoutWhen = [&] { return rig.controller().withMemory([&](orvemu::Memory &m) {
            return m.statusWrites.size() > resets;
        }); };
        rig.update(0, rig.file("Q40.sr", crlfText(program("x"))), CpuConfirm);
        QCOMPARE(rig.w->logText(), Failed + QStringLiteral("Failed to put into programming mode, Invalid Response\r\n") +
                                       QStringLiteral("Error: 170 Timed out waiting for response from controller\r\n"));
        QVERIFY(recordsReceived(rig.controller()).isEmpty());
        rig.checkRestored();
    }

    void stuckCpuModuleVariantChosenByTheUser() {
        Rig rig(12, 9600, [](orvemu::Controller &c) { c.memory().module.stuck(false); });
        QVERIFY(NoComm);
        // The reset times out; after the user's choice the module answers.
        rig.w->FlashTimeoutMs = ExpectedTimeoutMs;
        rig.w->SelectionOK = true;  // left from an earlier update
        ScriptedModalRunner runner;
        QStringList offered;
        runner.next([&](Form &f) {
            rig.w->FlashTimeoutMs = HangTimeoutMs;
            auto &s = static_cast<frmFlashSelect &>(f);
            for (QRadioButton *o : s.Option1)
                if (!o->isHidden()) offered << o->text();
            s.Option1[1]->click();
            s.Command1->click();
        });
        const int requestsBefore = int(rig.controller().requestCount());
        rig.update(0, rig.file("Q40_multi.csr", sectionFile({"Q41R", "Q42R"})), CpuConfirm);
        QCOMPARE(runner.runs(), 1);
        QCOMPARE(offered, (QStringList{"Q41 CPU Module", "Q42 CPU Module"}));
        QCOMPARE(FirmwareFilePath, rig.env.dir() + QStringLiteral("/Q40_multi.csr"));
        QCOMPARE(rig.w->SelectedModel, int16_t(12));
        QCOMPARE(rig.w->logText(), QStringLiteral("COMPLETED\r\n") + Booted + Busy +
                                       QStringLiteral("Q42R firmware\r\n") + Handshake + ResetTimedOut);
        QCOMPARE(recordsReceived(rig.controller()), program(QStringLiteral("Q42R")));
        // No frame of the update's before the loader's text: no model code
        // read, no programming request, and not even the reset, since the
        // library's check of the new line goes first and the stuck module
        // answers nothing. (The main window's model code reads at load,
        // which the stuck module left unanswered, can reach the emulator's
        // log only now.)
        const auto requests = rig.controller().requests();
        std::vector<std::vector<uint8_t>> frames;
        for (size_t i = size_t(requestsBefore); i < requests.size() && requests[i][0] == 0x01; ++i)
            frames.push_back(requests[i]);
        const std::vector<uint8_t> modelCodeRead{0x01, 0x05, 0x09, 0xD0, 0x32, 0xF4, 0xFF};
        while (!frames.empty() && frames.front() == modelCodeRead) frames.erase(frames.begin());
        QCOMPARE(frames, (std::vector<std::vector<uint8_t>>{}));
        QVERIFY(!requestSeen(rig.controller(), CpuRequest));
        rig.checkRestored();

        // Cancelled this time: nothing is sent, whatever the last answer was.
        rig.controller().withMemory([](orvemu::Memory &m) { return m.module.stuck(false), 0; });
        runner.next([](Form &f) { static_cast<frmFlashSelect &>(f).Command2->click(); });
        rig.w->FlashTimeoutMs = ExpectedTimeoutMs;
        rig.update(0, rig.file("Q40_multi.csr", sectionFile({"Q41R", "Q42R"})), CpuConfirm);
        QCOMPARE(rig.w->logText(), Failed + ResetTimedOut);
        QVERIFY(!rig.w->SelectionOK);

        // A selection window that cannot read the file (gone since it was
        // checked) closes unseen: an answer left from before does not count.
        rig.w->SelectionOK = true;
        rig.controller().clearLog();
        rig.w->FlashTimeoutMs = ExpectedTimeoutMs;
        const QString gone = rig.file("Q40_gone.sr", crlfText(program("x")));
        AfterBox remove(rig.env.responder, CpuConfirm, [&] { QFile::remove(gone); });
        rig.update(0, gone, CpuConfirm);
        QCOMPARE(runner.runs(), 2);
        QCOMPARE(rig.w->logText(), Failed + ResetTimedOut);
        for (const auto &r : rig.controller().requests()) QCOMPARE(r[0], uint8_t(0x01));  // no handshake
    }

    void stuckQ600WokenThroughThePort() {
        Rig rig(15, 9600, [](orvemu::Controller &c) { c.memory().module.stuck(true); });
        // The reset times out; after the user's choice the controller answers.
        rig.w->FlashTimeoutMs = ExpectedTimeoutMs;
        rig.portAnswerBytes = int(QStringLiteral("Q600 Loader").size());
        ScriptedModalRunner runner;
        runner.next([&](Form &f) {
            rig.w->FlashTimeoutMs = HangTimeoutMs;
            static_cast<frmFlashSelect &>(f).Command1->click();
        });
        const QStringList lines = program(QStringLiteral("Q600"));
        rig.update(2, rig.file("Q60_ctl.sr1", crlfText(lines)), Q600Confirm);
        QCOMPARE(rig.w->logText(), QStringLiteral("COMPLETED\r\n") + Booted + Busy + Handshake +
                                       QStringLiteral("MSComm Response: Q600 Loader\r\n") + ResetTimedOut);
        QCOMPARE(recordsReceived(rig.controller()), lines);
        QVERIFY(!rig.w->MSComm1.PortOpen());
        rig.checkRestored();
    }

    void q600ModelCodeSetBeforeProgrammingMode() {
        Rig rig(5);
        rig.update(2, rig.file("Q60.csr", sectionFile({"Q600R"})), Q600Confirm);
        QVERIFY(requestSummary(rig.controller()).contains(QStringLiteral("put 13008=15")));
        QCOMPARE(rig.w->logText(),
                 QStringLiteral("COMPLETED\r\n") + Booted + Busy + QStringLiteral("Q600R firmware\r\n") + Handshake);
        rig.checkRestored();
    }

    void waitsDataMessagesAndAConfirmationAlreadyIn() {
        Rig rig(11, 0);
        ScriptedLoader loader;
        const QStringList lines = program(QStringLiteral("x"));
        loader.xonReplies = {"Hello\x11", "\x11", "data 0001\r\x11"};
        loader.replies[lines[0].toStdString()] = "K0\x13Status 00000001\n\nStatus 00000010\n";
        loader.replies[lines[1].toStdString()] = "K1 DATA\x13";
        loader.replies[lines[2].toStdString()] = "K1 ok ok\x13";  // no DATA left in the reply
        loader.replies[lines[4].toStdString()] = "KBoot Done\r\n\x13";
        loader.install(rig.controller());
        int dataShown = 0;
        rig.pump.every([&](long) {
            if (rig.w->logText().startsWith(QStringLiteral("data 0001\r\n"))) ++dataShown;
        });
        rig.update(0, rig.file("Q40.sr", crlfText(lines)), CpuConfirm);
        QVERIFY(dataShown > 0);
        QCOMPARE(rig.w->logText(),
                 QStringLiteral("COMPLETED\r\nKBoot Done\r\nKBoot Done\r\nFailed to get Data Message\r\n"
                                "Status 00000010\r\nStatus 00000001\r\nStatus 00000001\r\nBaud: 38400\r\nHello\r\n"));
        QCOMPARE(recordsReceived(rig.controller()), lines);
    }

    void transferEndsAtEndAndWithoutConfirmation() {
        Rig rig(11, 0);
        ScriptedLoader loader;
        loader.install(rig.controller());
        const QStringList lines = program(QStringLiteral("x"));
        const QStringList sent{lines[0], lines[1], lines[4]};
        // The boot confirmation times out, after the last line sent.
        auto afterSent = [&] { return recordsReceived(rig.controller()).size() == sent.size(); };
        rig.expectTimeoutWhen = afterSent;
        rig.update(0, rig.file("Q40.sr", crlfText(sent + QStringList{QStringLiteral("-- END --"), lines[2]})),
                   CpuConfirm);
        // Without a busy period or a data message failure there is no log
        // base: the end of the transfer leaves the log empty before the
        // confirmation.
        QCOMPARE(rig.w->logText(), QStringLiteral("COMPLETED\r\nFailed to get Boot confirmation.\r\n"));
        QCOMPARE(recordsReceived(rig.controller()), sent);

        // An empty last line ends it too, unsent.
        rig.controller().clearLog();
        rig.controller().withMemory([](orvemu::Memory &m) { return m.module = orvemu::ModuleState{}, 0; });
        rig.expectTimeoutWhen = afterSent;
        rig.update(0, rig.file("Q40.sr", crlfText(sent + QStringList{QString()})), CpuConfirm);
        QCOMPARE(rig.w->logText(), QStringLiteral("COMPLETED\r\nFailed to get Boot confirmation.\r\n"));
        QCOMPARE(recordsReceived(rig.controller()), sent);
    }

    void lineWithoutAnswerFailsTheUpdate() {
        Rig rig(11, 0);
        ScriptedLoader loader;
        const QStringList lines = program(QStringLiteral("x"));
        loader.replies[lines[2].toStdString()] = "";
        loader.install(rig.controller());
        rig.expectTimeoutWhen = [&] { return recordsReceived(rig.controller()).size() == 2; };
        rig.update(0, rig.file("Q40.sr", crlfText(lines)), CpuConfirm);
        QCOMPARE(rig.w->logText(), Failed + QStringLiteral("Failed to get XOFF response. 170\r\nBaud: 38400\r\n"));
        QCOMPARE(recordsReceived(rig.controller()), lines.mid(0, 3));
        // The module is left in programming mode: polling is back, the
        // controller does not answer it.
        QVERIFY(!controllerLink().busy());
        QVERIFY(rig.main->Timer1->Enabled());
        QVERIFY(NoComm);
        QCOMPARE(BaudRate, 9600);
    }

    void earlyEndsAndRefusedFiles() {
        Rig rig(11);
        const int probe = int(rig.controller().requestCount());
        rig.w->setLogText(QStringLiteral("older"));
        // Cancelled file dialog: no result line.
        rig.update(0, std::nullopt);
        QCOMPARE(rig.w->logText(), QStringLiteral("older"));
        rig.checkRestored();
        // The ending decides, in any case. Nothing was sent: the controller
        // needs no power cycle.
        rig.update(0, rig.file("Q40.txt", "x"));
        QCOMPARE(rig.w->logText(), NotStarted + QStringLiteral("Invalid File Type Selected\r\nolder"));
        // A Q40 file for the communication module.
        rig.update(1, rig.file("Q40.sr", "x"));
        QCOMPARE(rig.w->logText(), NotStarted + QStringLiteral("Error: Invalid File Selected"));
        // A file that does not open.
        rig.update(0, rig.env.dir() + QStringLiteral("/Q40_missing.sr"));
        QCOMPARE(rig.w->logText(), NotStarted + QStringLiteral("Invalid Firmware File: the file cannot be read\r\n"));
        // Cancel in the confirmation.
        rig.update(0, rig.file("Q40.Sr", crlfText(program("x"))), CpuConfirm, mbCancel);
        QCOMPARE(rig.w->logText(), NotStarted);
        QCOMPARE(TimeoutMs, 80);
        // None of these reached the controller (only the reconnects' probes).
        for (const QString &r : requestSummary(rig.controller()).mid(probe))
            QVERIFY2(r.startsWith(QStringLiteral("get 13008")) || r.startsWith(QStringLiteral("code")), qPrintable(r));
        QVERIFY(recordsReceived(rig.controller()).isEmpty());
        QVERIFY(rig.controller().memory().statusWrites.empty());
        rig.main->waitForAttempt();
        QCOMPARE(rig.main->Message->text(), QStringLiteral("Connected to COMM1 Baud 9600"));
    }

    // A file that the update could not send whole is refused before the
    // confirmation, with the reason and its place, and nothing reaches the
    // controller.
    void badFilesAreRefusedBeforeTheConfirmation() {
        Rig rig(11);
        const QStringList lines = program(QStringLiteral("x"));
        QStringList badSum = lines;
        badSum[2].replace(badSum[2].size() - 2, 2, QStringLiteral("00"));
        const QByteArray whole = sectionFile({"Q41R", "Q42R"});
        const QByteArray zeroLength = compress(crlfText(
            QStringList{"Firmware variants 1", "Q41R length L0", "Q41R firmware"} + lines + QStringList{"END"}));
        const struct Case {
            int module;
            const char *name;
            QByteArray bytes;
            QString reason;
        } cases[] = {
            {0, "Q40_zero.csr", zeroLength, QStringLiteral("line 2: section Q41R has no length above 0 after its \"L\"")},
            {0, "Q40_cut.csr", whole.left(whole.size() * 3 / 4),
             QStringLiteral("Input past end of file: the coded text ends before its end mark (byte %1, in line ")
                 .arg(whole.size() * 3 / 4)},
            {0, "Q40_garbage.csr", QByteArray("this is not a firmware file at all"),
             QStringLiteral("Subscript out of range: the count header names symbol 26740, outside 0 to 514")},
            {0, "Q40_short.csr", QByteArray("\x0A\x00\x0D\x00\x05\x00", 6), QStringLiteral("the count header ends early")},
            {1, "Q90_other.csr", sectionFile({"Q41R"}), QStringLiteral("no section for Q90")},
            {0, "Q40_junk.sr", "hello world\r\n", QStringLiteral("line 1: not an S-record")},
            {0, "Q40_sum.sr", crlfText(badSum), QStringLiteral("line 3: checksum 00, the record's bytes give ") +
                                                   lines[2].right(2)},
            {0, "Q40_cut.sr", crlfText(lines.mid(0, 4)),
             QStringLiteral("line 4: the file ends without a termination record (S7, S8 or S9)")},
            {2, "Q60_count.sr", crlfText({lines[0], QStringLiteral("S1FF1000")}),
             QStringLiteral("line 2: the S-record's count gives 255 bytes, it holds 2")},
        };
        for (const Case &c : cases) {
            rig.update(c.module, rig.file(QLatin1String(c.name), c.bytes));
            QVERIFY2(rig.w->logText().startsWith(NotStarted + QStringLiteral("Invalid Firmware File: ") + c.reason),
                     qPrintable(rig.w->logText()));
            QVERIFY(rig.controller().memory().statusWrites.empty());
            QVERIFY(recordsReceived(rig.controller()).isEmpty());
            QVERIFY(!requestSeen(rig.controller(), CpuRequest));
        }
        QVERIFY(rig.env.responder.boxes().isEmpty());
        rig.checkRestored();
    }

    void networkConnectionIsRefused() {
        MonitorTestEnv env;
        frmMain &m = form<frmMain>();
        frmProgFlash &w = form<frmProgFlash>();
        CommPort = 1;
        ControllerIP.clear();
        w.setLogText(QStringLiteral("older"));
        w.SSCommand1->click();  // no file dialog: the responder would fail the test
        QCOMPARE(w.logText(), QStringLiteral("Please Configure a Serial Connection to the Module"));
        QVERIFY(env.responder.files().isEmpty());
        QVERIFY(!controllerLink().busy());
        QVERIFY(m.Timer1->Enabled());
        QVERIFY(NoComm);  // no controller at that address
        QCOMPARE(ConnectionHandle, 0);
    }

    void unsupportedEntryStillReconnects() {
        Rig rig(11);
        rig.w->Combo1->insertItem(2, QStringLiteral("Q600 Series Controller"));
        rig.env.responder.expectBox(QStringLiteral("Module Not Yet Supported"));
        const int32_t before = ConnectionHandle;
        rig.w->Combo1->setCurrentIndex(3);
        rig.w->SSCommand1->click();
        QVERIFY(rig.env.responder.done());
        QCOMPARE(rig.env.responder.boxes().last().buttons, int(mbOKOnly));
        rig.main->waitForAttempt();
        QVERIFY(ConnectionHandle > before);
        QVERIFY(rig.controller().memory().statusWrites.empty());
        rig.checkRestored();
    }

    void suspendedMonitoringStaysSuspended() {
        Rig rig(11);
        rig.main->SuspendButton_Click();
        QCOMPARE(rig.main->SuspendButton->Caption(), QStringLiteral("Resume Monitoring"));
        rig.update(0, rig.file("Q40.sr", crlfText(program("x"))), CpuConfirm);
        QVERIFY(rig.w->logText().startsWith(QStringLiteral("COMPLETED\r\n")));
        QCOMPARE(ConnectionHandle, 0);
        QVERIFY(NoComm);
        QVERIFY(!rig.main->Timer1->Enabled());
        QVERIFY(!controllerLink().busy());
        QCOMPARE(BaudRate, 9600);
    }

    void restoreCompletesAfterAnError() {
        MonitorTestEnv env;
        frmMain &m = form<frmMain>();
        frmProgFlash &w = form<frmProgFlash>();
        CommPort = 1;
        ControllerIP.clear();
        controllerLink().markOpened(77);
        BaudRate = 4800;
        TimeoutMs = 123;
        w.setLogText(QStringLiteral("older"));
        OrvComm::useLibraryFile(QStringLiteral("/nonexistent/liborvcomm.so"));
        w.SSCommand1->click();
        OrvComm::useLibraryFile(QString());
        QCOMPARE(w.logText(), QStringLiteral("ERROR RESETTING MONITOR\r\nPlease Configure a Serial Connection to the Module"));
        QCOMPARE(ConnectionHandle, 0);
        QVERIFY(NoComm);
        QVERIFY(!controllerLink().busy());
        QVERIFY(m.Timer1->Enabled());
        QCOMPARE(BaudRate, 4800);
        QCOMPARE(TimeoutMs, 123);
    }
};

QTEST_MAIN(TestFirmwareUpdate)
#include "test_firmwareupdate.moc"
