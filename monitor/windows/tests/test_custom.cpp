// The custom windows: value entries and the writes the emulator receives,
// number entries and their limits, the edit protocol, the Display and File
// menus, the .CFG file (its exact bytes, the round trip, short, corrupt and
// hand-edited files) and the unload's question to save.
#include <QFile>
#include <QtTest/QTest>

#include "windows/customfile.h"
#include "windows/frames.h"
#include "windows_fixture.h"

using namespace windows_test;

namespace {
QString status() { return form<frmMain>().Message->text(); }

void setRows(std::array<CustomResourceRow, 16> &rows, const QList<CustomResourceRow> &first) {
    for (auto &r : rows) r = {QStringLiteral("Not Selected"), 0, 1};
    for (int i = 0; i < first.size(); ++i) rows[size_t(i)] = first[i];
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// One line of the file as the print zones place it.
QByteArray line(const QByteArray &quotedName, const QByteArray &kind, const QByteArray &number) {
    QByteArray l = quotedName;
    while (l.size() % 14) l += ' ';
    l += kind;
    while (l.size() % 14) l += ' ';
    return l + number + "\r\n";
}

// The main window (its load clears the controller's counts), then an
// identified controller of 32 flags and 4 servos.
frmMain &mainWithController() {
    frmMain &m = quietMain();
    NumFlags = 32;
    NumServos = 4;
    ControllerModel = 5;
    controllerLink().markIdentified(true);
    return m;
}

QList<int> kinds(const std::array<CustomResourceRow, 16> &rows) {
    QList<int> out;
    for (const auto &r : rows) out << r.kind;
    return out;
}
QList<int> numbers(const std::array<CustomResourceRow, 16> &rows) {
    QList<int> out;
    for (const auto &r : rows) out << r.number;
    return out;
}
}  // namespace

class TestCustom : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { noSerialLine(); }
    void init() {
        resetGlobals();
        Custom1EditInProgress = Custom2EditInProgress = false;
        Custom1EditIndex = Custom2EditIndex = 0;
        CustomScreen1Path.clear();
        CustomScreen2Path.clear();
        Custom1WindowOpen = Custom2WindowOpen = false;
    }

    void fileFormat() {
        std::array<CustomResourceRow, 16> rows;
        setRows(rows, {{QStringLiteral("Register 100"), 6, 100}, {QStringLiteral("Flag 5"), 1, 5},
                       {QStringLiteral("a \"quoted\" name"), 6, 7}, {QStringLiteral("Register-3"), 6, -3}});
        const QByteArray text = CustomFileText(rows);
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines.size(), 17);  // sixteen lines, each ended by CR LF
        QCOMPARE(lines[0] + '\n', line("\"Register 100\"", " 6 ", " 100 "));
        QCOMPARE(lines[1] + '\n', QByteArray("\"Flag 5\"       1             5 \r\n"));
        QCOMPARE(lines[2] + '\n', line("\"a 'quoted' name\"", " 6 ", " 7 "));
        QCOMPARE(lines[3] + '\n', line("\"Register-3\"", " 6 ", "-3 "));
        QCOMPARE(lines[15] + '\n', QByteArray("\"Not Selected\" 0             1 \r\n"));

        // Read back: a number below 1 is no row the program writes, and a
        // file with such a row changes no row at all.
        std::array<CustomResourceRow, 16> back;
        setRows(back, {});
        CustomFileRead read = ReadCustomFile(text, back);
        QCOMPARE(read.rows, 0);
        QCOMPARE(read.badLine, 4);
        QCOMPARE(read.reason, QStringLiteral("the number -3 is not one of 1 to 2147483647"));
        QCOMPARE(back[0].kind, int16_t(0));
        QCOMPARE(back[0].number, 1);
        rows[3].number = 3;
        read = ReadCustomFile(CustomFileText(rows), back);
        QCOMPARE(read.rows, 16);
        QCOMPARE(read.badLine, 0);
        QCOMPARE(back[2].name, QStringLiteral("a 'quoted' name"));
        QCOMPARE(back[1].kind, int16_t(1));
        QCOMPARE(back[3].number, 3);

        // Hand-edited: commas, unquoted names, LF line ends, all on fewer lines.
        setRows(back, {});
        read = ReadCustomFile("Pump, 6, 12\n\"Valve\",3,4 \"x\" 5 2\n", back);
        QCOMPARE(read.rows, 3);
        QCOMPARE(read.badLine, 0);
        QCOMPARE(back[0].name, QStringLiteral("Pump"));
        QCOMPARE(back[0].number, 12);
        QCOMPARE(back[1].kind, int16_t(3));
        QCOMPARE(back[2].number, 2);
    }

    // A file that cannot be taken whole is refused with its line and the
    // reason, and no row changes; a short file of whole rows fills the rows
    // it has. Carriage returns alone end lines.
    void fileReadWholeOrRefused() {
        std::array<CustomResourceRow, 16> rows;
        setRows(rows, {{QStringLiteral("Register 100"), 6, 100}, {QStringLiteral("Flag 5"), 1, 5}});
        const QByteArray whole = CustomFileText(rows);
        QByteArray crOnly = whole;
        crOnly.replace("\r\n", "\r");
        QByteArray lastWithoutEnd = whole;
        lastWithoutEnd.chop(2);
        QByteArray seventeen = whole + line("\"x\"", " 6 ", " 7 ");
        // The first n lines of a text, each with its end.
        const auto first = [](const QByteArray &t, int n, char end) {
            qsizetype at = 0;
            for (int i = 0; i < n; ++i) at = t.indexOf(end, at) + 1;
            return t.left(at);
        };
        const struct {
            const char *what;
            QByteArray bytes;
            int rows, badLine;
            QString reason;
        } cases[] = {
            {"whole", whole, 16, 0, {}},
            {"carriage returns alone", crOnly, 16, 0, {}},
            {"no line end after the last number's blank", lastWithoutEnd, 16, 0, {}},
            {"ten whole lines", first(whole, 10, '\n'), 10, 0, {}},
            {"blank lines after the rows", whole + "\r\n  \r\n", 16, 0, {}},
            {"cut inside the last number", whole.left(whole.size() - 3), 0, 16,
             QStringLiteral("the row is cut off by the end of the file")},
            {"cut after the name", first(whole, 15, '\n') + "\"Not Selected\" ", 0, 16,
             QStringLiteral("the row is cut off by the end of the file")},
            {"a bad row after carriage returns alone", first(crOnly, 2, '\r') + "\"y\" 13 1 \r" + crOnly.mid(first(crOnly, 3, '\r').size()), 0, 3,
             QStringLiteral("the kind 13 is not one of 0 to 12")},
            {"seventeen rows", seventeen, 0, 17, QStringLiteral("more than the 16 rows of a custom screen")},
            {"NUL bytes", QByteArray(200, '\0'), 0, 1, QStringLiteral("a NUL byte")},
            {"a NUL in a name", first(whole, 1, '\n') + QByteArray("\"a\0b\" 6 1 \r\n", 13), 0, 2, QStringLiteral("a NUL byte")},
            {"rows after the first MiB", QByteArray(1 << 20, ' ') + whole, 0, 1,
             QStringLiteral("the file is longer than a custom screen file can be (65536 bytes)")},
            {"a kind that is no number", first(whole, 1, '\n') + line("\"b\"", " six ", " 3 "), 0, 2,
             QStringLiteral("the kind is not a number: six")},
            {"a number beyond 64 bits", line("\"b\"", " 6 ", " 123456789012345678901234567890 "), 0, 1,
             QStringLiteral("the number 123456789012345678901234567890 is not one of 1 to 2147483647")},
            {"a name without its closing quote", line("\"b", " 6 ", " 3 "), 0, 1,
             QStringLiteral("the name has no closing quote: \"b") + QString(13, u' ') + QStringLiteral("6") +
                 QString(13, u' ') + QStringLiteral("3 ")},
        };
        for (const auto &c : cases) {
            std::array<CustomResourceRow, 16> back;
            setRows(back, {{QStringLiteral("kept"), 3, 9}});
            const CustomFileRead read = ReadCustomFile(c.bytes, back);
            QVERIFY2(read.rows == c.rows && read.badLine == c.badLine, c.what);
            QCOMPARE(read.reason, c.reason);
            if (c.rows == 0) {
                QCOMPARE(back[0].name, QStringLiteral("kept"));
                QCOMPARE(back[0].number, 9);
            } else {
                QCOMPARE(back[0].number, 100);
                QCOMPARE(back[1].kind, int16_t(1));
                QCOMPARE(back[c.rows - 1].name, c.rows == 16 ? QStringLiteral("Not Selected") : back[c.rows - 1].name);
            }
        }
    }

    void valueEntriesWriteByKind() {
        MonitorTestEnv env;
        EmulatorPeer peer(5);
        mainWithController();
        if (!peer.connectMonitor()) QSKIP("needs the UDP transport");
        setRows(Custom1Rows, {{{}, 1, 1}, {{}, 3, 3}, {{}, 5, 5}, {{}, 6, 100}, {{}, 7, 2}, {{}, 2, 7}, {{}, 8, 1}});
        frmCustom1 &c = form<frmCustom1>();
        struct Entry {
            int row;
            QString typed;
            QString message;
        };
        // A number the row's field does not take is written neither as
        // typed nor as another: the status line names the field and its
        // range, and the entry goes on for a correction.
        const QString range = QStringLiteral("Nothing written: %1 takes whole numbers from %2 to %3, not %4.");
        const QList<Entry> entries{
            {0, QStringLiteral("1"), QStringLiteral("Flag #1 updated.")},
            {0, QStringLiteral("5"), range.arg(QStringLiteral("Flag #1")).arg(0).arg(1).arg(5)},
            {1, QStringLiteral("12"), range.arg(QStringLiteral("Output #3")).arg(0).arg(1).arg(12)},
            {1, QStringLiteral("-3"), range.arg(QStringLiteral("Output #3")).arg(0).arg(1).arg(-3)},
            {1, QStringLiteral("1"), QStringLiteral("Output #3 updated.")},
            {1, QStringLiteral("0"), QStringLiteral("Output #3 updated.")},
            {2, QStringLiteral("20000"), range.arg(QStringLiteral("Analog Output #5")).arg(0).arg(10000).arg(20000)},
            {2, QStringLiteral("1e4"), QStringLiteral("Analog Output #5 updated.")},
            {3, QStringLiteral("77.5"), QStringLiteral("Register #100 updated.")},
            {3, QStringLiteral("-99999999999"),
             range.arg(QStringLiteral("Register #100"), QStringLiteral("-2147483648"), QStringLiteral("2147483647"),
                       QStringLiteral("-99999999999"))},
            {4, QStringLiteral("-5"), QStringLiteral("Servo Position #2 updated.")}};
        for (const Entry &e : entries) {
            typeEnter(c.Text2[e.row], e.typed);
            QCOMPARE(status(), e.message);
            const bool refused = e.message.startsWith(QStringLiteral("Nothing"));
            QCOMPARE(Custom1EditInProgress, refused);
            if (refused) {
                QCOMPARE(c.Text2[e.row]->text(), e.typed);
                leaveField(c.Text2[e.row]);
            }
        }
        QCOMPARE(flagWrites(peer.controller()), (QList<RegisterWrite>{{1, 1}}));
        QCOMPARE(registerWrites(peer.controller()),
                 (QList<RegisterWrite>{{1003, 1}, {1003, 0}, {8005, 10000}, {100, 78}, {14002, -5}}));
        // After an output write the label names the written state.
        QCOMPARE(c.Label1[1]->text(), QStringLiteral("OUT_3_OFF"));

        // Read-only kinds and "Not Selected" rows write nothing; each box
        // shows again what it showed before.
        peer.controller().clearLog();
        c.Text2[5]->setText(QStringLiteral("40"));
        typeEnter(c.Text2[5], QStringLiteral("1"));
        typeEnter(c.Text2[6], QStringLiteral("2"));
        typeEnter(c.Text2[9], QStringLiteral("abc"));
        QVERIFY(peer.controller().requests().empty());
        QCOMPARE(c.Text2[5]->text(), QStringLiteral("40"));
        QCOMPARE(c.Text2[9]->text(), QString());
        // Enter on what the poll put in a writable row writes nothing: a
        // flag showing "Set", an output showing "*".
        c.Text2[0]->setText(QStringLiteral("Set"));
        typeEnter(c.Text2[0]);
        c.Text2[1]->setText(QStringLiteral("*"));
        typeEnter(c.Text2[1]);
        QVERIFY(peer.controller().requests().empty());
        QCOMPARE(status(), QStringLiteral("Nothing written: type a new value, then press Enter."));

        // A refused write: the status line has the library's text, and the
        // box shows the value it showed before.
        peer.controller().setFault({orvemu::FaultKind::ShortError, 1, 0, orvemu::kIllegalRegister, {}});
        c.Text2[3]->setText(QStringLiteral("33"));
        typeEnter(c.Text2[3], QStringLiteral("1"));
        QCOMPARE(status(), QStringLiteral("Failed to update value.\n") + errorInfoText());
        QVERIFY(!errorInfoText().isEmpty());
        QCOMPARE(c.Text2[3]->text(), QStringLiteral("33"));

        // The edit protocol: the first key empties the box and holds the row
        // off the poll, leaving the box shows its value again, Delete starts
        // an edit of its row in any case.
        c.Text2[3]->setText(QStringLiteral("40"));
        QTest::keyClicks(c.Text2[3], QStringLiteral("9"));
        QCOMPARE(c.Text2[3]->text(), QStringLiteral("9"));
        QVERIFY(Custom1EditInProgress);
        QCOMPARE(Custom1EditIndex, int16_t(3));
        leaveField(c.Text2[3]);
        QVERIFY(!Custom1EditInProgress);
        QCOMPARE(c.Text2[3]->text(), QStringLiteral("40"));
        c.Text2[4]->setText(QStringLiteral("8"));
        QTest::keyClick(c.Text2[4], Qt::Key_Delete);
        QVERIFY(Custom1EditInProgress);
        QCOMPARE(Custom1EditIndex, int16_t(4));
        QCOMPARE(c.Text2[4]->text(), QString());
        Custom1EditInProgress = false;

        // The poll leaves the edited row alone and refreshes the others.
        peer.controller().withMemory([](orvemu::Memory &m) { m.writeRegister(100, 42); });
        Custom1WindowOpen = true;
        QTest::keyClicks(c.Text2[0], QStringLiteral("5"));
        form<frmMain>().Timer1_Timer();
        QCOMPARE(c.Text2[0]->text(), QStringLiteral("5"));
        QCOMPARE(c.Text2[3]->text(), QStringLiteral("42"));
        Custom1WindowOpen = false;
        Custom1EditInProgress = false;

        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbNo);
        QVERIFY(c.Unload());
        disconnectMonitor();
    }

    void numberEntries() {
        MonitorTestEnv env;
        mainWithController();
        setRows(Custom1Rows, {{{}, 6, 1}, {{}, 0, 1}, {{}, 7, 1}});
        SymbolFilePath = QStringLiteral("plant.SYM");
        SymRegisters.open({{QStringLiteral("1024"), 4, 0, QStringLiteral("Speed")}});
        SymRegisters2.open({{QStringLiteral("8"), 12, 0, QStringLiteral("Count")}});
        frmCustom1 &c = form<frmCustom1>();
        c.DisplayMenu[2]->trigger();
        QVERIFY(!c.Combo1[0]->isHidden());
        QVERIFY(!c.Text1[0]->isHidden());
        QVERIFY(c.Label1[0]->isHidden());
        QVERIFY(c.DisplayMenu[2]->isChecked());
        QVERIFY(!c.DisplayMenu[1]->isChecked());

        c.Text1[0]->setText(QStringLiteral("1"));
        QTest::keyClicks(c.Text1[0], QStringLiteral("2.5"));
        QVERIFY(Custom1EditInProgress);
        QCOMPARE(Custom1EditIndex, int16_t(0));
        QTest::keyClick(c.Text1[0], Qt::Key_Return);
        QCOMPARE(Custom1Rows[0].number, 2);
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Register 2"));
        QVERIFY(!Custom1EditInProgress);
        typeEnter(c.Text1[0], QStringLiteral("3.5"));
        QCOMPARE(Custom1Rows[0].number, 4);
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Speed"));
        // The number entry looks only in the first register snapshot.
        typeEnter(c.Text1[0], QStringLiteral("12"));
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Register 12"));
        // Above the kind's bound: the entry's own message, number 1, name
        // kept, and the edit over.
        env.responder.expectBox(QStringLiteral("No such REGISTER exists."));
        typeEnter(c.Text1[0], QStringLiteral("70000"));
        QVERIFY(env.responder.done());
        QCOMPARE(env.responder.boxes().last().icon, int(mbExclamation));
        QCOMPARE(Custom1Rows[0].number, 1);
        QCOMPARE(c.Text1[0]->text(), QStringLiteral("1"));
        QCOMPARE(Custom1Rows[0].kind, int16_t(kindRegister));
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Register 12"));
        QVERIFY(!Custom1EditInProgress);
        // "Not Selected" rows just take number 1; so does text below 1.
        typeEnter(c.Text1[1], QStringLiteral("70000"));
        QCOMPARE(Custom1Rows[1].number, 1);
        QCOMPARE(c.Text1[1]->text(), QStringLiteral("1"));
        QVERIFY(!Custom1EditInProgress);
        typeEnter(c.Text1[2], QStringLiteral("-4"));
        QCOMPARE(c.Text1[2]->text(), QStringLiteral("1"));
        QCOMPARE(c.Label1[2]->text(), QStringLiteral("Servo Position 1"));
        // Leaving the box takes the number as Enter would.
        env.responder.expectBox(QStringLiteral("No such SERVO exists."));
        c.Text1[2]->setText(QStringLiteral("9"));
        leaveField(c.Text1[2]);
        QVERIFY(env.responder.done());
        QCOMPARE(Custom1Rows[2].number, 1);

        // Choosing a kind: names from the snapshots (both register ones),
        // and a number past the kind's bound turns the row back.
        Custom1Rows[3].number = 12;
        c.Combo1[3]->setCurrentIndex(kindRegister);
        c.Combo1_Click(3);
        QCOMPARE(c.Label1[3]->text(), QStringLiteral("Count"));
        Custom1Rows[4].number = 5;
        c.Combo1[4]->setCurrentIndex(kindServoPosition);
        env.responder.expectBox(QStringLiteral("No such servo motor exists."));
        c.Combo1_Click(4);
        QVERIFY(env.responder.done());
        QCOMPARE(Custom1Rows[4].kind, int16_t(kindNotSelected));
        QCOMPARE(c.Combo1[4]->currentIndex(), 0);
        QCOMPARE(c.Label1[4]->text(), QStringLiteral("Not Selected"));

        // Back to the Labels view; saved or not, the Display menu marks the
        // configuration unsaved.
        c.ConfigSaved = true;
        c.DisplayMenu[1]->trigger();
        QVERIFY(!c.ConfigSaved);
        QVERIFY(c.Combo1[0]->isHidden());
        QVERIFY(!c.Label1[0]->isHidden());
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbNo);
        QVERIFY(c.Unload());
    }

    void secondWindowDifferences() {
        MonitorTestEnv env;
        mainWithController();
        setRows(Custom2Rows, {{{}, 6, 1}, {{}, 0, 1}});
        frmCustom2 &c = form<frmCustom2>();
        // A value box records its row at every key, Enter included.
        Custom2EditIndex = 9;
        controllerLink().markLost(QString());
        QTest::keyClick(c.Text2[5], Qt::Key_Return);
        QCOMPARE(Custom2EditIndex, int16_t(5));
        // The first key of a number box sets the flag alone.
        QTest::keyClicks(c.Text1[0], QStringLiteral("3"));
        QVERIFY(Custom2EditInProgress);
        QCOMPARE(Custom2EditIndex, int16_t(5));
        QTest::keyClick(c.Text1[0], Qt::Key_Return);
        QVERIFY(!Custom2EditInProgress);
        // A "Not Selected" row keeps the typed number when the box is left,
        // and the edit ends.
        QTest::keyClicks(c.Text1[1], QStringLiteral("44"));
        leaveField(c.Text1[1]);
        QCOMPARE(c.Text1[1]->text(), QStringLiteral("44"));
        QCOMPARE(Custom2Rows[1].number, 1);
        QVERIFY(!Custom2EditInProgress);
        // The first window was not touched.
        QVERIFY(!Custom1EditInProgress);
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 2?"), mbNo);
        QVERIFY(c.Unload());
    }

    void configurationFile() {
        MonitorTestEnv env;
        mainWithController();
        const QString path = env.dir() + QStringLiteral("/plant.CFG");
        setRows(Custom1Rows, {{{}, 6, 100}, {{}, 1, 5}, {{}, 0, 1}, {{}, 7, 3}});
        frmCustom1 &c = form<frmCustom1>();
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Register 100"));

        // Save with no file yet: the Save As dialog, then the file.
        env.responder.expectFile(path);
        c.Filemenu[4]->trigger();
        QVERIFY(env.responder.done());
        const FileDialogCall &dialog = env.responder.files().last();
        QCOMPARE(int(dialog.kind), int(FileDialogKind::Save));
        QCOMPARE(dialog.filter, QStringLiteral("Config Files(*.CFG)|*.CFG|All Files(*.*)|*.*"));
        QCOMPARE(dialog.filterIndex, 1);
        QCOMPARE(dialog.defaultExt, QStringLiteral("CFG"));
        QCOMPARE(dialog.fileName, QString());
        QCOMPARE(CustomScreen1Path, path);
        QVERIFY(c.ConfigSaved);
        const QByteArray saved = readFile(path);
        QVERIFY(saved.startsWith(line("\"Register 100\"", " 6 ", " 100 ") + "\"Flag 5\""));
        QVERIFY(saved.endsWith(line("\"Not Selected\"", " 0 ", " 1 ")));

        // New empties the path and the rows; Open brings the file back, names
        // rebuilt from kinds and numbers.
        c.Filemenu[1]->trigger();
        QCOMPARE(CustomScreen1Path, QString());
        QCOMPARE(kinds(Custom1Rows), QList<int>(16, 0));
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Not Selected"));
        QByteArray edited = saved;
        edited.replace("\"Flag 5\"", "\"Hand\"  ");
        writeFile(path, edited);
        env.responder.expectFile(path);
        c.Filemenu[2]->trigger();
        QCOMPARE(int(env.responder.files().last().kind), int(FileDialogKind::Open));
        QCOMPARE(kinds(Custom1Rows), (QList<int>{6, 1, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        QCOMPARE(numbers(Custom1Rows), (QList<int>{100, 5, 1, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
        QCOMPARE(c.Label1[1]->text(), QStringLiteral("Flag 5"));
        QCOMPARE(c.Text1[3]->text(), QStringLiteral("3"));

        // A cancelled dialog changes neither the path nor the rows.
        env.responder.expectFile(std::nullopt);
        c.Filemenu[2]->trigger();
        QCOMPARE(CustomScreen1Path, path);
        QCOMPARE(Custom1Rows[0].kind, int16_t(6));
        env.responder.expectFile(std::nullopt);
        QVERIFY(!c.SaveConfigAs());

        // A short file fills the rows it has and leaves the others quietly.
        QByteArray ten;
        for (int i = 0; i < 10; ++i) ten += line("\"x\"", " 6 ", ' ' + QByteArray::number(i + 20) + ' ');
        writeFile(path, ten);
        setRows(Custom1Rows, {});
        Custom1Rows[12] = {{}, 1, 9};
        c.LoadConfig(path);
        QCOMPARE(numbers(Custom1Rows).mid(0, 10), (QList<int>{20, 21, 22, 23, 24, 25, 26, 27, 28, 29}));
        QCOMPARE(Custom1Rows[12].kind, int16_t(1));
        QCOMPARE(Custom1Rows[12].number, 9);

        // A corrupt line: no row is taken, and the user is told where and why.
        writeFile(path, line("\"a\"", " 6 ", " 2 ") + line("\"b\"", " six ", " 3 ") + line("\"c\"", " 6 ", " 4 "));
        env.responder.expectBox(QStringLiteral("Line 2 of ") + path +
                                QStringLiteral(" is not a custom screen row (the kind is not a number: six): the rows "
                                               "were left as they were, and Save asks for a file."));
        const QByteArray corrupt = readFile(path);
        QCOMPARE(CustomScreen1Path, path);
        c.LoadConfig(path);
        QVERIFY(env.responder.done());
        QCOMPARE(env.responder.boxes().last().icon, int(mbExclamation));
        QCOMPARE(Custom1Rows[0].number, 20);
        QCOMPARE(Custom1Rows[1].number, 21);
        QCOMPARE(Custom1Rows[2].number, 22);
        // Nor is it the window's file any more: Save asks, and a cancelled
        // dialog leaves the file as it was.
        QVERIFY(CustomScreen1Path.isEmpty());
        env.responder.expectFile(std::nullopt);
        QVERIFY(!c.SaveCurrentConfig());
        QCOMPARE(readFile(path), corrupt);
        // A missing file reads nothing, quietly.
        c.LoadConfig(env.dir() + QStringLiteral("/none.CFG"));
        QCOMPARE(Custom1Rows[0].number, 20);

        // Open of a name that does not exist yet, then Save, creates it.
        const QString fresh = env.dir() + QStringLiteral("/fresh.CFG");
        env.responder.expectFile(fresh);
        c.OpenConfig();
        QCOMPARE(CustomScreen1Path, fresh);
        QVERIFY(c.SaveCurrentConfig());
        QCOMPARE(readFile(fresh), CustomFileText(Custom1Rows));

        // The window's load reads its remembered file.
        QVERIFY(c.Unload());  // just saved, Labels view: no question
        setRows(Custom1Rows, {});
        c.Load();
        QCOMPARE(Custom1Rows[0].number, 20);
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Register 20"));
        env.responder.expectBox(QStringLiteral("Save Changes to ") + fresh, mbNo);
        QVERIFY(c.Unload());
        QVERIFY(env.responder.done());
    }

    // With no controller identified the rows stand as the file has them:
    // no count checks, nothing to save, the file untouched. They are checked
    // once the controller is identified.
    void rowsOfAnUnidentifiedController() {
        MonitorTestEnv env;
        quietMain();
        QVERIFY(!ControllerIdentified);
        const QString path = env.dir() + QStringLiteral("/plant.CFG");
        std::array<CustomResourceRow, 16> rows;
        setRows(rows, {{QStringLiteral("Flag 3"), kindFlag, 3},
                       {QStringLiteral("Servo Position 2"), kindServoPosition, 2},
                       {QStringLiteral("Servo Home Inp 1"), kindServoHomeInput, 1},
                       {QStringLiteral("Register 7"), kindRegister, 7}});
        const QByteArray bytes = CustomFileText(rows);
        writeFile(path, bytes);
        CustomScreen1Path = path;
        setRows(Custom1Rows, {});
        frmCustom1 &c = form<frmCustom1>();
        QCOMPARE(env.responder.boxes().size(), 0);
        QCOMPARE(kinds(Custom1Rows).mid(0, 5), (QList<int>{1, 7, 9, 6, 0}));
        QCOMPARE(c.Label1[0]->text(), QStringLiteral("Flag 3"));
        QVERIFY(c.Unload());  // nothing changed: no question
        QCOMPARE(readFile(path), bytes);

        c.Load();
        NumFlags = 2;
        NumServos = 4;
        ControllerModel = 2;
        controllerLink().markIdentified(true);
        env.responder.expectBox(QStringLiteral("No such FLAG exists."));
        env.responder.expectBox(QStringLiteral("No such servo motor exists."));  // no servo inputs on model 2
        CheckCustomRowsLater();
        QTRY_VERIFY(env.responder.done());
        QCOMPARE(kinds(Custom1Rows).mid(0, 5), (QList<int>{0, 7, 0, 6, 0}));
        QCOMPARE(c.Combo1[0]->count(), 9);
        QVERIFY(!c.ConfigSaved);
        env.responder.expectBox(QStringLiteral("Save Changes to ") + path, mbNo);
        QVERIFY(c.Unload());
        QVERIFY(env.responder.done());
        QCOMPARE(readFile(path), bytes);
    }

    // A file refused as corrupt by File Open is not taken, in part or as
    // the window's file: Save writes the file the rows came from.
    void corruptFileIsNotOpened() {
        MonitorTestEnv env;
        mainWithController();
        setRows(Custom1Rows, {{{}, 6, 100}});
        frmCustom1 &c = form<frmCustom1>();
        const QString good = env.dir() + QStringLiteral("/good.CFG");
        env.responder.expectFile(good);
        QVERIFY(c.SaveConfigAs());
        std::array<CustomResourceRow, 16> other;
        setRows(other, {{{}, 6, 7}, {{}, 6, 8}});
        const QByteArray text = CustomFileText(other);
        const struct {
            QByteArray bytes;
            QString where;
        } cases[] = {
            {line("\"a\"", " 6 ", " 2 ") + line("\"b\"", " six ", " 3 "),
             QStringLiteral("Line 2 of %1 is not a custom screen row (the kind is not a number: six)")},
            {QByteArray(10 << 20, '\0'),
             QStringLiteral("Line 1 of %1 is not a custom screen row (the file is longer than a custom screen file "
                            "can be (65536 bytes))")},
            {QByteArray(1000, '\0'), QStringLiteral("Line 1 of %1 is not a custom screen row (a NUL byte)")},
            {QByteArray(1 << 20, '\n') + text,
             QStringLiteral("Line 65537 of %1 is not a custom screen row (the file is longer than a custom screen file "
                            "can be (65536 bytes))")},
            {text.left(text.size() - 20),
             QStringLiteral("Line 16 of %1 is not a custom screen row (the row is cut off by the end of the file)")},
        };
        const QString bad = env.dir() + QStringLiteral("/bad.CFG");
        for (const auto &k : cases) {
            writeFile(bad, k.bytes);
            env.responder.expectFile(bad);
            env.responder.expectBox(k.where.arg(bad) + QStringLiteral(": the file was not opened and the window is unchanged."));
            c.OpenConfig();
            QVERIFY(env.responder.done());
            QCOMPARE(CustomScreen1Path, good);
            QCOMPARE(Custom1Rows[0].number, 100);
            QCOMPARE(Custom1Rows[1].kind, int16_t(0));
        }
        QVERIFY(c.SaveCurrentConfig());
        QCOMPARE(readFile(bad), text.left(text.size() - 20));
        QCOMPARE(readFile(good), CustomFileText(Custom1Rows));
        QVERIFY(c.Unload());
    }

    void unloadQuestion() {
        MonitorTestEnv env;
        mainWithController();
        const QString path = env.dir() + QStringLiteral("/screen.CFG");
        setRows(Custom1Rows, {{{}, 6, 7}});
        frmCustom1 &c = form<frmCustom1>();
        Custom1WindowOpen = true;

        // Yes really saves, then the window closes.
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbYes);
        env.responder.expectFile(path);
        QVERIFY(c.Unload());
        QVERIFY(env.responder.done());
        QCOMPARE(readFile(path), CustomFileText(Custom1Rows));
        QVERIFY(!Custom1Loaded);
        QVERIFY(!Custom1WindowOpen);
        QCOMPARE(status(), QStringLiteral("Custom Resource Form unloaded."));

        // In the Resources view the question comes even right after a save.
        c.Load();
        QVERIFY(c.SaveCurrentConfig());
        c.DisplayMenu[2]->trigger();
        QVERIFY(c.SaveCurrentConfig());
        env.responder.expectBox(QStringLiteral("Save Changes to ") + path, mbNo);
        QVERIFY(c.Unload());
        QVERIFY(env.responder.done());

        // A file that cannot be written: the message, nothing reported saved,
        // and the window stays open with its rows.
        c.Load();
        Custom1WindowOpen = true;
        CustomScreen1Path = env.dir() + QStringLiteral("/no/such/folder/screen.CFG");
        Custom1Rows[0].number = 8;
        env.responder.expectBox(QStringLiteral("Save Changes to ") + CustomScreen1Path, mbYes);
        env.responder.expectBox(QStringLiteral("Error Saving File"));
        QVERIFY(!c.Unload());
        QVERIFY(env.responder.done());
        QCOMPARE(env.responder.boxes().last().icon, 0);
        QVERIFY(c.loaded());
        QVERIFY(Custom1Loaded);
        QVERIFY(Custom1WindowOpen);
        QVERIFY(!c.ConfigSaved);
        QCOMPARE(Custom1Rows[0].number, 8);
        // Yes and then no file chosen keeps it open too; No closes it.
        CustomScreen1Path.clear();
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbYes);
        env.responder.expectFile(std::nullopt);
        QVERIFY(!c.Unload());
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 1?"), mbNo);
        QVERIFY(c.Unload());
        QVERIFY(env.responder.done());

        // The second window's own failure text; Exit unloads.
        frmCustom2 &c2 = form<frmCustom2>();
        CustomScreen2Path = env.dir() + QStringLiteral("/no/such/folder/two.CFG");
        env.responder.expectBox(QStringLiteral("Error Saving File!"));
        QVERIFY(!c2.SaveCurrentConfig());
        CustomScreen2Path.clear();
        env.responder.expectBox(QStringLiteral("Save Changes to Custom Form 2?"), mbNo);
        c2.Filemenu[7]->trigger();
        QVERIFY(!c2.loaded());
        QVERIFY(env.responder.done());
    }
};

QTEST_MAIN(TestCustom)
#include "test_custom.moc"
