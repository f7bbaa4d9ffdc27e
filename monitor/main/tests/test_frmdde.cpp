// The DDE setup window: its controls and load, the DDE settings that the main
// window keeps for it, the edit and commit rules of its boxes, pokes, and the
// writes it sends to the emulator.
#include <QFile>
#include <QFocusEvent>
#include <QtTest/QTest>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

#include "controller.h"
#include "core/dde.h"
#include "core/eventpump.h"
#include "core/globals.h"
#include "core/settings.h"
#include "harness/harness.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"

namespace {

void writeSettings(const QString &path, const QString &text) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text.toUtf8());
}

// The main window on a serial line that does not exist (its first
// connection fails at once); it loads the DDE window.
frmMain &loadMain(MonitorTestEnv &env, const QString &settings = QStringLiteral("[Registers]\n")) {
    writeSettings(env.settingsFile(), settings);
    frmMain &m = form<frmMain>();
    controllerLink().markUp();
    controllerLink().markIdentified(true);
    NumFlags = 32;
    return m;
}


// The emulator with every register write recorded as (register, value).
class RecordingPeer {
public:
    RecordingPeer() {
        peer.controller().setHandler(0x0B, [this](orvemu::Controller &ctl, const orvemu::Request &r) {
            const uint16_t n = orvemu::u16(r.args.data());
            const auto v = int32_t(orvemu::u32(r.args.data() + 2));
            {
                std::lock_guard lock(mutex_);
                writes_.emplace_back(n, v);
            }
            ctl.memory().writeRegister(n, v);
            return orvemu::shortReply(orvemu::kAck);
        });
    }
    // Opens a UDP connection into ConnectionHandle; false when UDP is not
    // available. The writes are counted, so the reply time-out is one that
    // only a hang reaches: on a busy machine a reply late beyond a short
    // time-out makes the library send the write again. No test here waits
    // for a time-out.
    bool connect() { return peer.connectMonitor(10000); }
    std::vector<std::pair<int, int>> takeWrites() {
        std::lock_guard lock(mutex_);
        return std::exchange(writes_, {});
    }
    EmulatorPeer peer{5};

private:
    std::mutex mutex_;
    std::vector<std::pair<int, int>> writes_;
};

using Writes = std::vector<std::pair<int, int>>;

}  // namespace

class TestFrmDDE : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("ORVCOMM_COM1", "/nonexistent/orvmon-test-line"); }
    void init() {
        restartLink();
        DdeWriteSuppress = false;
        SymbolFilePath.clear();
    }
    void cleanup() {
        if (ConnectionHandle != 0) OrvComm::ZqCloseConnection(ConnectionHandle);
        controllerLink().markDropped();
        DdeWriteSuppress = false;
    }

    void controlsAndDefaultsWithoutSections() {
        MonitorTestEnv env;
        loadMain(env);
        QVERIFY(formLoaded<frmDDE>());
        frmDDE &d = form<frmDDE>();
        QVERIFY(d.isHidden());
        for (const char *name : {"FlagAddress", "FlagWrite", "FlagValue(1)", "FlagValue(32)", "Label1(2)", "Label1(5)",
                                 "RegAddress", "RegWrite", "RegRead", "Reg50Address", "Label2(9)", "RegValue(1)",
                                 "RegValue(50)", "BlockAddress(16)", "BlockWrite(1)", "BlockRead(16)", "WriteBox",
                                 "DDENode", "HScroll1", "DdeInterval", "Message", "Command3d1", "Command3d2",
                                 "Command3d3"})
            QVERIFY2(d.control(QString::fromLatin1(name)), name);
        QCOMPARE(d.Label1[2]->text(), QStringLiteral("Flag 1:"));
        QCOMPARE(d.Label1[5]->text(), QStringLiteral("Flag 25:"));
        QCOMPARE(d.Label2[0]->text(), QStringLiteral("Reg 1:"));
        QCOMPARE(d.Label2[9]->text(), QStringLiteral("Reg 46:"));
        QCOMPARE(d.Command3d2->Caption(), QStringLiteral("E&xit"));
        QCOMPARE(d.Command3d3->Caption(), QStringLiteral("&Write Block Data"));
        QCOMPARE(d.SSTab1->tabText(0), QStringLiteral("&Flag Register Configuration"));
        QCOMPARE(d.SSTab1->tabText(1), QStringLiteral("&Block Write Configuration"));

        // The DDE Setup section is missing: the main window's defaults.
        QCOMPARE(d.FlagAddress->text(), QStringLiteral("1"));
        QCOMPARE(d.RegAddress->text(), QStringLiteral("1"));
        QCOMPARE(d.Reg50Address->text(), QStringLiteral("0"));
        QCOMPARE(d.DdeInterval->text(), QStringLiteral("1000"));
        QCOMPARE(d.HScroll1->value(), 1000);
        QCOMPARE(d.Message->text(), QStringLiteral("No Controller Communication in progress"));
        QCOMPARE(d.Command3d1->Caption(), QStringLiteral("Start DDE"));
        QCOMPARE(d.BlockAddress[7]->text(), QStringLiteral("7"));
        QCOMPARE(d.BlockWrite[7]->text(), QString());
        QCOMPARE(d.RegValue[50]->text(), QStringLiteral("0"));
        QCOMPARE(d.DDENode->text(), QStringLiteral("0"));
        QVERIFY(!d.DDENode->isEnabled());  // a serial connection

        // The window keeps no settings: unloading it writes nothing.
        const QByteArray before = [&] { QFile f(env.settingsFile()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        QVERIFY(d.Unload());
        QFile f(env.settingsFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);

        // The main window's unload cannot store sections that do not exist.
        env.responder.expectBox(QStringLiteral("Cannot WRITE Conmmunications settings to Registry !"));
        env.responder.expectBox(QStringLiteral("Cannot WRITE DDE Setup settings to Registry !"));
        env.responder.expectBox(QStringLiteral("Cannot WRITE File settings to Registry !"));
        env.responder.expectBox(QStringLiteral("Cannot WRITE Main settings to Registry !"));
        QVERIFY(form<frmMain>().close());
        QVERIFY(env.responder.done());
    }

    void settingsRoundTripWithValuesMissing() {
        MonitorTestEnv env;
        QString sections;
        for (const QString &s : SettingsStore::programSections())
            if (s != QStringLiteral("DDE Setup")) sections += QStringLiteral("[") + s + QStringLiteral("]\n");
        frmMain &m = loadMain(env, sections + QStringLiteral("[DDE Setup]\ndword \"Flag\" 1\ndword \"Block 50 Address\" 2\n"));
        frmDDE &d = form<frmDDE>();
        QCOMPARE(d.FlagAddress->text(), QStringLiteral("1"));
        QCOMPARE(d.Reg50Address->text(), QStringLiteral("2"));
        QCOMPARE(d.Label2[0]->text(), QStringLiteral("51"));
        QCOMPARE(d.Label2[9]->text(), QStringLiteral("96"));
        QCOMPARE(d.DdeInterval->text(), QStringLiteral("25"));
        // The failed first connection retries after the update interval, or
        // later where the attempt itself took long (a busy machine).
        QCOMPARE(DdeUpdateMs, 25);
        QVERIFY(m.Timer1->Interval() >= 25);
        QCOMPARE(d.Message->text(), QStringLiteral("Controller Communication in progress"));
        QCOMPARE(d.Command3d1->Caption(), QStringLiteral("Cancel DDE"));

        // Edits in the window reach the section through the main window.
        QTest::keyClicks(d.RegAddress, QStringLiteral("123"));
        typeEnter(d.RegAddress);
        d.HScroll1->setValue(500);
        QCOMPARE(d.DdeInterval->text(), QStringLiteral("500"));
        QCOMPARE(m.Timer1->Interval(), 500);
        d.Command3d1->click();
        QVERIFY(m.close());
        SettingsStore store(env.settingsFile());
        int32_t key = 0, reg = 0, update = 0, serving = 1;
        QVERIFY(store.openKey(HKEY_CURRENT_USER, SettingsRoot + QStringLiteral("DDE Setup"), key));
        QVERIFY(store.queryLong(key, QStringLiteral("Register Address"), reg));
        QVERIFY(store.queryLong(key, QStringLiteral("Update"), update));
        QVERIFY(store.queryLong(key, QStringLiteral("Flag"), serving));
        QCOMPARE(reg, 123);
        QCOMPARE(update, 500);
        QCOMPARE(serving, 0);
    }

    void loadTakesTheGlobals() {
        MonitorTestEnv env;
        frmMain &m = loadMain(env);
        frmDDE &d = form<frmDDE>();
        QVERIFY(d.Unload());
        DdeFlagAddress = 9;
        DdeUpdateMs = 40000;  // beyond the scroll bar: its end
        TargetNode = 12;
        CommPort = 0;
        controllerLink().markUp();
        d.FlagValue[4]->setText(QStringLiteral("1"));
        d.Label2[3]->setText(QStringLiteral("x"));
        form<frmDDE>();
        QCOMPARE(d.Caption(), QStringLiteral("DDE Configuration"));
        QCOMPARE(d.FlagAddress->text(), QStringLiteral("9"));
        // The node arrives as a change, which makes the link again: until
        // the next refresh no value is current.
        QCOMPARE(d.FlagValue[4]->text(), QStringLiteral("*"));
        QCOMPARE(d.Label2[3]->text(), QStringLiteral("Reg 16:"));
        QCOMPARE(d.HScroll1->value(), 32000);
        QCOMPARE(DdeUpdateMs, 32000);
        QCOMPARE(m.Timer1->Interval(), 32000);
        QCOMPARE(d.DDENode->text(), QStringLiteral("12"));
        QVERIFY(d.DDENode->isEnabled());
        QVERIFY(NoComm);  // the node arrives as a change, as in a new window
    }

    void addressBoxesCommitAndPokes() {
        MonitorTestEnv env;
        frmMain &m = loadMain(env);
        frmDDE &d = form<frmDDE>();
        DdeServing = -1;

        // The button and the message show whether serving is on.
        const auto showsServing = [&d](bool on) {
            return d.Command3d1->Caption() == (on ? QStringLiteral("Cancel DDE") : QStringLiteral("Start DDE")) &&
                   d.Message->text() == (on ? QStringLiteral("Controller Communication in progress")
                                            : QStringLiteral("No Controller Communication in progress"));
        };
        DdeServing = 0;
        d.Command3d1->click();
        QVERIFY(DdeServing != 0 && showsServing(true));

        // The first key starts a fresh entry and switches serving off.
        QTest::keyClicks(d.FlagAddress, QStringLiteral("4"));
        QCOMPARE(d.FlagAddress->text(), QStringLiteral("4"));
        QVERIFY(DdeWriteSuppress);
        QCOMPARE(DdeServing, 0);
        QVERIFY(showsServing(false));
        QTest::keyClicks(d.FlagAddress, QStringLiteral("5"));
        typeEnter(d.FlagAddress);
        // The controller has 32 flags: 45 is refused, the earlier address stays.
        QCOMPARE(d.FlagAddress->text(), QStringLiteral("1"));
        QCOMPARE(DdeFlagAddress, 1);
        QCOMPARE(m.Message->text(), QStringLiteral("There is no flag 45: flags are numbered 1 to 32."));
        // The commit switches serving on, and shows it.
        QVERIFY(DdeServing != 0);
        QVERIFY(showsServing(true));
        QVERIFY(!DdeWriteSuppress);
        // Every address box: its first key shows serving off, its commit on;
        // the button then switches serving off.
        for (QLineEdit *box : {d.RegAddress, d.Reg50Address}) {
            QTest::keyClicks(box, QStringLiteral("2"));
            QVERIFY(DdeServing == 0 && showsServing(false));
            typeEnter(box);
            QVERIFY(DdeServing != 0 && showsServing(true));
        }
        d.Command3d1->click();
        QVERIFY(DdeServing == 0 && showsServing(false));
        typeEnter(d.FlagAddress, QStringLiteral("1"));
        QVERIFY(DdeServing != 0 && showsServing(true));
        typeEnter(d.FlagAddress, QStringLiteral("32"));
        QCOMPARE(DdeFlagAddress, 32);

        QTest::keyClicks(d.Reg50Address, QStringLiteral("3"));
        leaveField(d.Reg50Address);
        QCOMPARE(DdeBlock50Address, 3);
        QCOMPARE(d.Label2[0]->text(), QStringLiteral("101"));
        QCOMPARE(d.Label2[9]->text(), QStringLiteral("146"));
        QTest::keyClicks(d.Reg50Address, QStringLiteral("-5"));
        typeEnter(d.Reg50Address);
        QCOMPARE(d.Reg50Address->text(), QStringLiteral("0"));
        QCOMPARE(DdeBlock50Address, 0);
        QCOMPARE(d.Label2[0]->text(), QStringLiteral("101"));
        QTest::keyClicks(d.Reg50Address, QStringLiteral("25"));
        typeEnter(d.Reg50Address);
        QCOMPARE(d.Reg50Address->text(), QStringLiteral("0"));

        typeEnter(d.RegAddress, QStringLiteral("40000"));
        QCOMPARE(DdeRegisterAddress, 40000);

        // The program's own changes of a box: no limits, and nothing while
        // an edit is in progress.
        d.FlagAddress->setText(QStringLiteral("77"));
        QCOMPARE(DdeFlagAddress, 77);
        d.FlagAddress->setText(QStringLiteral("70000"));  // no flag number: refused
        QCOMPARE(DdeFlagAddress, 77);
        d.Reg50Address->setText(QStringLiteral("2.5"));
        QCOMPARE(DdeBlock50Address, 2);
        QCOMPARE(d.Label2[1]->text(), QStringLiteral("56"));
        DdeWriteSuppress = true;
        d.RegAddress->setText(QStringLiteral("5"));
        QCOMPARE(DdeRegisterAddress, 40000);
        DdeWriteSuppress = false;

        // The node box: 1..999 asks for a reconnect to that node.
        controllerLink().markUp();
        d.DDENode->setText(QStringLiteral("1000"));
        QVERIFY(!NoComm);
        d.DDENode->setText(QStringLiteral("5"));
        QCOMPARE(TargetNode, 5);
        QVERIFY(NoComm && d.DDENode->isEnabled());
        controllerLink().markUp();
        QTest::keyClicks(d.DDENode, QStringLiteral("8"));
        leaveField(d.DDENode);  // leaving applies nothing
        QCOMPARE(TargetNode, 5);
        QCOMPARE(d.DDENode->text(), QStringLiteral("5"));
        QVERIFY(!DdeWriteSuppress);
        QTest::keyClicks(d.DDENode, QStringLiteral("8"));
        typeEnter(d.DDENode);
        QCOMPARE(TargetNode, 8);
        QVERIFY(NoComm);

        // Serving switch and Exit.
        d.Show();
        DdeServing = 0;
        d.Command3d1->click();
        QVERIFY(DdeServing != 0);
        QCOMPARE(d.Command3d1->Caption(), QStringLiteral("Cancel DDE"));
        d.Command3d2->click();
        QVERIFY(d.isHidden() && d.loaded());
        QVERIFY(DdeServing != 0);
    }

    // An address that the controller does not have (its model, or the
    // requests, cannot carry it), typed into or poked into any address box,
    // is refused with the reason; the box keeps its address, and the next
    // tick reads every item from a carried address without dropping the
    // link. Typed and poked addresses go by the same rule.
    void addressesNoRequestCarries() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        frmMain &m = quietMainConnectedTo(env, peer);
        if (NoComm) QSKIP("needs the UDP transport");
        ScriptedPump pump(false);
        installEventPump(&pump);
        frmDDE &d = form<frmDDE>();
        NumFlags = 32;
        controllerLink().markIdentified(true);
        peer.controller().withMemory([](orvemu::Memory &mem) {
            mem.registers[5] = 55;
            mem.registers[4464] = 4464;  // what register 70000 would wrap to
            return 0;
        });
        DdeSession client;
        QCOMPARE(DdeServer::instance().respond(client, QStringLiteral("CONNECT DDEsetup")).line, QStringLiteral("OK"));

        enum How { Poke, Enter, Leave, Set };
        const auto refused = [](const char *what, const char *n, int highest) {
            return QStringLiteral("ERROR there is no %1 %2: %1s are numbered 1 to %3")
                .arg(QLatin1String(what), QLatin1String(n))
                .arg(highest);
        };
        const auto typed = [](const char *what, const char *n, int highest) {
            return QStringLiteral("There is no %1 %2: %1s are numbered 1 to %3.")
                .arg(QLatin1String(what), QLatin1String(n))
                .arg(highest);
        };
        const QString ok = QStringLiteral("OK");
        const struct {
            const char *box;
            How how;
            const char *text;
            QString answer;  // a poke's answer, or the status line after a typed entry
            const char *shows;
            int32_t registers = 40000;  // the model's highest register
        } cases[] = {
            {"BlockAddress(2)", Poke, "3000000000", refused("register", "3000000000", 40000), "2"},
            {"BlockAddress(2)", Poke, "-3e9", refused("register", "-3e9", 40000), "2"},
            {"RegAddress", Poke, "70000", refused("register", "70000", 40000), "5"},
            {"RegAddress", Poke, "40001", refused("register", "40001", 40000), "5"},
            {"RegAddress", Poke, "65535", refused("register", "65535", 40000), "5"},
            {"RegAddress", Poke, "65535", ok, "65535", 65535},
            {"RegAddress", Poke, "70000", refused("register", "70000", 65535), "5", 70000},
            {"RegAddress", Poke, "-4", ok, "-4"},  // the item is off
            {"Reg50Address", Poke, "1e11", refused("50-register block", "1e11", 20), "1"},
            {"Reg50Address", Poke, "21", refused("50-register block", "21", 20), "1"},
            {"FlagAddress", Poke, "5e12", refused("flag", "5e12", 32), "1"},
            {"FlagAddress", Poke, "33", refused("flag", "33", 32), "1"},
            {"FlagAddress", Poke, "32", ok, "32"},
            {"DDENode", Poke, "1000", refused("node", "1000", 999), "5"},
            {"BlockAddress(2)", Enter, "3000000000", typed("register", "3000000000", 40000), "2"},
            {"BlockAddress(3)", Leave, "70000", typed("register", "70000", 40000), "3"},
            {"RegAddress", Enter, "70000", typed("register", "70000", 40000), "5"},
            {"RegAddress", Enter, "3e9", typed("register", "3e9", 40000), "5"},
            {"RegAddress", Enter, "65535", typed("register", "65535", 40000), "5"},
            {"RegAddress", Enter, "40001", typed("register", "40001", 40000), "5"},
            {"RegAddress", Enter, "65535", QString(), "65535", 65535},
            {"RegAddress", Leave, "-7", QString(), "0"},  // the item is off
            {"Reg50Address", Enter, "70000", typed("50-register block", "70000", 20), "1"},
            {"FlagAddress", Leave, "5e12", typed("flag", "5e12", 32), "1"},
            {"FlagAddress", Enter, "70000", typed("flag", "70000", 32), "1"},
            {"DDENode", Enter, "70000", typed("node", "70000", 999), "5"},
            // An address that reaches a box another way (the settings) is left unread.
            {"BlockAddress(4)", Set, "3000000000", QString(), "3000000000"},
        };
        for (const auto &c : cases) {
            const QString box = QLatin1String(c.box), text = QLatin1String(c.text);
            RegisterLimit = c.registers;
            DdeServing = -1;
            DdeWriteSuppress = false;
            d.FlagAddress->setText(QStringLiteral("1"));
            d.RegAddress->setText(QStringLiteral("5"));
            d.Reg50Address->setText(QStringLiteral("1"));
            {
                const QSignalBlocker quiet(d.DDENode);  // no reconnect
                d.DDENode->setText(QStringLiteral("5"));
                d.DDENode->setEnabled(true);
            }
            for (int k = 1; k <= 16; ++k) d.BlockAddress[size_t(k)]->setText(QString::number(k));
            const auto addresses = std::tuple{DdeFlagAddress, DdeRegisterAddress, DdeBlock50Address, TargetNode};
            m.Message->clear();
            auto *edit = d.control<QLineEdit>(box);
            switch (c.how) {
            case Poke:
                QCOMPARE(DdeServer::instance().respond(client, QStringLiteral("POKE %1 %2").arg(box, text)).line,
                         c.answer);
                break;
            case Enter: typeEnter(edit, text); break;
            case Leave:
                QTest::keyClicks(edit, text);
                leaveField(edit);
                break;
            case Set: edit->setText(text); break;
            }
            QVERIFY2(edit->text() == QLatin1String(c.shows), qPrintable(box + u' ' + text + u' ' + edit->text()));
            if (c.how != Poke) QCOMPARE(m.Message->text(), c.answer);
            if (!c.answer.isEmpty() && c.answer != ok)
                QVERIFY(addresses == std::tuple(DdeFlagAddress, DdeRegisterAddress, DdeBlock50Address, TargetNode));
            // The node box makes the link again; the others keep it.
            if (box == QStringLiteral("DDENode")) continue;
            const int32_t link = ConnectionHandle;
            m.Timer1_Timer();
            QVERIFY2(!NoComm && ConnectionHandle == link, c.box);
        }
        RegisterLimit = 40000;
        // The register box kept 5 through the refused poke of 70000: its item
        // shows register 5, not the register 70000 would have wrapped to.
        d.RegAddress->setText(QStringLiteral("5"));
        DdeServer::instance().respond(client, QStringLiteral("POKE RegAddress 70000"));
        m.Timer1_Timer();
        QCOMPARE(d.RegRead->text(), QStringLiteral("55"));
        DdeServer::instance().endSession(client);
        disconnectMonitor();
    }

    void registerWrites() {
        MonitorTestEnv env;
        RecordingPeer rec;
        frmMain &m = loadMain(env);
        if (!rec.connect()) QSKIP("needs the UDP transport");
        frmDDE &d = form<frmDDE>();

        d.RegAddress->setText(QStringLiteral("100"));
        d.RegWrite->setText(QStringLiteral("-42"));
        QCOMPARE(rec.takeWrites(), (Writes{{100, -42}}));
        QCOMPARE(rec.peer.controller().withMemory([](orvemu::Memory &mem) { return *mem.readRegister(100); }), -42);

        // No register, no write: the value box is emptied.
        d.RegAddress->setText(QStringLiteral("0"));
        d.RegWrite->setText(QStringLiteral("5"));
        QCOMPARE(d.RegWrite->text(), QString());
        d.RegAddress->setText(QStringLiteral("40001"));
        d.RegWrite->setText(QStringLiteral("5"));
        QCOMPARE(d.RegWrite->text(), QString());
        QVERIFY(rec.takeWrites().empty());

        // Nothing is written while the user is editing.
        d.RegAddress->setText(QStringLiteral("200"));
        DdeWriteSuppress = true;
        d.RegWrite->setText(QStringLiteral("9"));
        QVERIFY(rec.takeWrites().empty());
        DdeWriteSuppress = false;

        // Typed values are written on Enter and on leaving, whatever NoComm says.
        controllerLink().markLost(QString());
        QTest::keyClicks(d.RegWrite, QStringLiteral("77"));
        QVERIFY(rec.takeWrites().empty());
        typeEnter(d.RegWrite);
        QCOMPARE(rec.takeWrites(), (Writes{{200, 77}}));
        QTest::keyClicks(d.RegWrite, QStringLiteral("1e3"));
        leaveField(d.RegWrite);
        QCOMPARE(rec.takeWrites(), (Writes{{200, 1000}}));
        controllerLink().markUp();

        // A failed write shows on the status line with its reason; the box
        // keeps its text.
        d.RegAddress->setText(QStringLiteral("40000"));
        OrvComm::ZqCloseConnection(ConnectionHandle);
        d.RegWrite->setText(QStringLiteral("3"));
        QVERIFY2(m.Message->text().startsWith(QStringLiteral("Failed to update register value!\n")),
                 qPrintable(m.Message->text()));
        QCOMPARE(d.RegWrite->text(), QStringLiteral("3"));
    }

    void flagWrites() {
        MonitorTestEnv env;
        RecordingPeer rec;
        frmMain &m = loadMain(env);
        if (!rec.connect()) QSKIP("needs the UDP transport");
        frmDDE &d = form<frmDDE>();

        d.FlagAddress->setText(QStringLiteral("3"));
        d.FlagWrite->setText(QStringLiteral("7"));
        QCOMPARE(rec.takeWrites(), (Writes{{13203, 7}}));
        QTest::keyClicks(d.FlagWrite, QStringLiteral("7"));
        typeEnter(d.FlagWrite);
        QCOMPARE(rec.takeWrites(), (Writes{{13203, 1}}));
        QTest::keyClicks(d.FlagWrite, QStringLiteral("7"));
        leaveField(d.FlagWrite);
        QCOMPARE(rec.takeWrites(), (Writes{{13203, 7}}));

        // A poked flag number outside 1..NumFlags empties the value box.
        d.FlagAddress->setText(QStringLiteral("33"));
        d.FlagWrite->setText(QStringLiteral("1"));
        QCOMPARE(d.FlagWrite->text(), QString());
        // Committing to such a number writes no register either.
        QTest::keyClicks(d.FlagWrite, QStringLiteral("1"));
        typeEnter(d.FlagWrite);
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update Flag value!"));
        QVERIFY(rec.takeWrites().empty());

        // Without a connection the flag boxes write nothing and Enter is not
        // taken: the edit goes on.
        d.FlagAddress->setText(QStringLiteral("2"));
        controllerLink().markLost(QString());
        d.FlagWrite->setText(QStringLiteral("1"));
        QTest::keyClicks(d.FlagWrite, QStringLiteral("1"));
        typeEnter(d.FlagWrite);
        leaveField(d.FlagWrite);
        QVERIFY(DdeWriteSuppress);
        QVERIFY(rec.takeWrites().empty());
        controllerLink().markUp();
        typeEnter(d.FlagWrite);
        QVERIFY(!DdeWriteSuppress);
        QCOMPARE(rec.takeWrites(), (Writes{{13202, 1}}));
    }

    void blockWrite() {
        MonitorTestEnv env;
        RecordingPeer rec;
        frmMain &m = loadMain(env);
        if (!rec.connect()) QSKIP("needs the UDP transport");
        frmDDE &d = form<frmDDE>();

        d.BlockAddress[0]->setText(QStringLiteral("300"));
        d.BlockWrite[0]->setText(QStringLiteral("1"));  // row 0 is never written
        d.BlockAddress[1]->setText(QStringLiteral("301"));
        d.BlockWrite[1]->setText(QStringLiteral("11"));
        d.BlockAddress[16]->setText(QStringLiteral("316"));
        d.BlockWrite[16]->setText(QStringLiteral("-16"));
        d.Command3d3->click();
        QCOMPARE(rec.takeWrites(), (Writes{{301, 11}, {316, -16}}));
        QCOMPARE(d.BlockWrite[1]->text(), QString());
        QCOMPARE(d.BlockWrite[0]->text(), QStringLiteral("1"));

        // A poke of WriteBox runs the block write and puts back "0".
        d.BlockWrite[2]->setText(QStringLiteral("22"));
        d.WriteBox->setText(QStringLiteral("1"));
        QCOMPARE(rec.takeWrites(), (Writes{{2, 22}}));
        QCOMPARE(d.WriteBox->text(), QStringLiteral("0"));

        // No connection: the rows wait with their values.
        controllerLink().markLost(QString());
        d.BlockWrite[3]->setText(QStringLiteral("33"));
        d.Command3d3->click();
        QVERIFY(rec.takeWrites().empty());
        QCOMPARE(d.BlockWrite[3]->text(), QStringLiteral("33"));
        controllerLink().markUp();

        // A failed write is reported with its reason; the row is emptied
        // all the same.
        OrvComm::ZqCloseConnection(ConnectionHandle);
        d.Command3d3->click();
        QVERIFY2(m.Message->text().startsWith(QStringLiteral("Failed to update register value!\n")),
                 qPrintable(m.Message->text()));
        QCOMPARE(d.BlockWrite[3]->text(), QString());
    }

    // Register numbers the protocol cannot carry and values that are not
    // numbers are refused with the reason: nothing is written, nothing lost.
    void refusedWrites() {
        MonitorTestEnv env;
        RecordingPeer rec;
        frmMain &m = loadMain(env);
        if (!rec.connect()) QSKIP("needs the UDP transport");
        frmDDE &d = form<frmDDE>();
        const QString noRegister = QStringLiteral("Failed to update register value!\nThere is no register 70000: "
                                                  "registers are numbered 1 to 40000.");

        d.BlockAddress[1]->setText(QStringLiteral("70000"));
        d.BlockWrite[1]->setText(QStringLiteral("4242"));
        d.BlockAddress[2]->setText(QStringLiteral("302"));
        d.BlockWrite[2]->setText(QStringLiteral("22"));
        int16_t cancel = 0;
        d.Form_LinkExecute(QStringLiteral("DOWNLOAD"), cancel);
        QCOMPARE(rec.takeWrites(), (Writes{{302, 22}}));
        QCOMPARE(m.Message->text(), noRegister);
        QCOMPARE(d.BlockWrite[1]->text(), QStringLiteral("4242"));
        d.BlockAddress[1]->setText(QStringLiteral("301"));
        d.BlockWrite[1]->setText(QStringLiteral("x1"));
        d.Command3d3->click();
        QVERIFY(rec.takeWrites().empty());
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update register value!\n\"x1\" is not a number."));

        d.RegAddress->setText(QStringLiteral("70000"));
        typeEnter(d.RegWrite, QStringLiteral("4242"));
        QVERIFY(rec.takeWrites().empty());
        QCOMPARE(m.Message->text(), noRegister);

        d.RegAddress->setText(QStringLiteral("10"));
        typeEnter(d.RegWrite, QStringLiteral("abc"));
        QTest::keyClicks(d.RegWrite, QStringLiteral("abc"));
        leaveField(d.RegWrite);
        d.RegWrite->setText(QStringLiteral("junk"));  // a client's poke
        QVERIFY(rec.takeWrites().empty());
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update register value!\n\"junk\" is not a number."));
        QCOMPARE(d.RegWrite->text(), QStringLiteral("junk"));

        d.FlagAddress->setText(QStringLiteral("3"));
        typeEnter(d.FlagWrite, QStringLiteral("xyz"));
        QTest::keyClicks(d.FlagWrite, QStringLiteral("xyz"));
        leaveField(d.FlagWrite);
        d.FlagWrite->setText(QStringLiteral("xyz"));
        QVERIFY(rec.takeWrites().empty());
        QCOMPARE(m.Message->text(), QStringLiteral("Failed to update Flag value!\n\"xyz\" is not a number."));

        // Numbers in any of the forms a box reads are written.
        d.RegWrite->setText(QStringLiteral(" &H1F "));
        typeEnter(d.FlagWrite, QStringLiteral("0"));
        QCOMPARE(rec.takeWrites(), (Writes{{10, 31}, {13203, 0}}));
    }
};

QTEST_MAIN(TestFrmDDE)
#include "test_frmdde.moc"
