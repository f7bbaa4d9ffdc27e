// The program transfer window and its progress window: controls, the load's
// baud rate, Exit, and the object-file dialogs with their questions.
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>

#include "core/controls.h"
#include "core/globals.h"
#include "harness/harness.h"
#include "transfer/frmFile.h"
#include "transfer/frmLoadMain.h"

namespace {
QRect pixels(int left, int top, int width, int height) {
    auto px = [](int twips) { return qRound(twips / double(TwipsPerPixel)); };
    return QRect(px(left), px(top), px(width), px(height));
}
QString makeFile(const QString &dir, const QString &name) {
    const QString path = dir + u'/' + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("object");
    return path;
}
const QString DsoFilter = QStringLiteral("DSP Binaries (*.DSO)|*.DSO|All Files (*.*)|*.*");
}  // namespace

class TestFrmLoadMain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlsAndPlaces();
    void loadSetsBaudRateAndExitHides();
    void progressWindow();
    void openAsksUntilAnExistingFile();
    void saveAsksBeforeOverwriting();
    void saveEmptyNameAndCancel();
};

void TestFrmLoadMain::controlsAndPlaces() {
    MonitorTestEnv env;
    frmLoadMain &w = form<frmLoadMain>();
    QCOMPARE(w.Caption(), QStringLiteral("Program Transfer Utility"));
    QCOMPARE(w.property("LinkTopic").toString(), QStringLiteral("ORVmain"));
    QCOMPARE(w.Width(), 5655);
    QCOMPARE(w.Height(), 2130);
    struct Expect {
        const char *name;
        QString text;
        QRect place;
    };
    const Expect expected[] = {
        {"Command1(4)", QStringLiteral("&1"), pixels(240, 240, 372, 372)},
        {"Label1(4)", QStringLiteral("Movrel Program Upload"), pixels(840, 240, 3360, 375)},
        {"Command1(3)", QStringLiteral("&2"), pixels(240, 840, 372, 372)},
        {"Label1(3)", QStringLiteral("Movrel Program Download "), pixels(840, 840, 3360, 375)},
        {"ExitButton", QStringLiteral("E&xit"), pixels(4320, 480, 1092, 372)},
        {"Label2", QString(), pixels(0, 1320, 5655, 810)},
    };
    for (const Expect &e : expected) {
        QWidget *c = w.control(QLatin1String(e.name));
        QVERIFY2(c, e.name);
        const QString text = qobject_cast<QLabel *>(c) ? qobject_cast<QLabel *>(c)->text()
                                                       : qobject_cast<QPushButton *>(c)->text();
        QCOMPARE(text, e.text);
        QCOMPARE(c->geometry(), e.place);
    }
}

void TestFrmLoadMain::loadSetsBaudRateAndExitHides() {
    MonitorTestEnv env;
    BaudRate = 38400;
    frmLoadMain &w = form<frmLoadMain>();
    QCOMPARE(BaudRate, 9600);

    w.Show();
    w.Label2->setText(QStringLiteral("Download Complete!"));
    BaudRate = 19200;
    QTest::mouseClick(w.ExitButton, Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QVERIFY(formLoaded<frmLoadMain>());
    // Shown again without a new load: the label and the baud rate stay.
    w.Show();
    QCOMPARE(w.Label2->text(), QStringLiteral("Download Complete!"));
    QCOMPARE(BaudRate, 19200);

    // A new load clears the label and sets the rate again; the unload itself
    // asks nothing.
    QVERIFY(unloadForm<frmLoadMain>());
    form<frmLoadMain>();
    QCOMPARE(w.Label2->text(), QString());
    QCOMPARE(BaudRate, 9600);
    QVERIFY(env.responder.boxes().isEmpty());
}

void TestFrmLoadMain::progressWindow() {
    MonitorTestEnv env;
    frmFile &f = form<frmFile>();
    QCOMPARE(f.Width(), 4560);
    QCOMPARE(f.Height(), 1140);
    auto *panel = f.control<SSPanel>(QStringLiteral("SSPanel1"));
    QVERIFY(panel);
    QCOMPARE(panel->geometry(), pixels(240, 240, 4095, 615));

    // A transfer leaves the bar full; the next one starts from an empty bar.
    f.setCaption(QStringLiteral("Downloading Register Values..."));
    panel->setFloodPercent(100);
    QVERIFY(unloadForm<frmFile>());
    form<frmFile>();
    QCOMPARE(panel->FloodPercent(), 0);
    QCOMPARE(f.Caption(), QString());
}

void TestFrmLoadMain::openAsksUntilAnExistingFile() {
    MonitorTestEnv env;
    const QString existing = makeFile(env.dir(), QStringLiteral("LINE.DSO"));
    const QString missing = env.dir() + QStringLiteral("/GONE.DSO");
    env.responder.expectFile(QString());
    env.responder.expectBox(QStringLiteral("Please select a file to download."));
    env.responder.expectFile(missing);
    env.responder.expectBox(QStringLiteral("File entered does not exist."));
    env.responder.expectFile(env.dir());  // a folder is no object file
    env.responder.expectBox(QStringLiteral("File entered does not exist."));
    env.responder.expectFile(existing);

    QString path = QStringLiteral("start.DSO");
    QCOMPARE(form<frmLoadMain>().OpenDSOFile(path), existing);
    QCOMPARE(path, existing);
    QVERIFY(env.responder.done());
    for (const MsgBoxCall &b : env.responder.boxes()) QCOMPARE(b.icon, int(mbExclamation));

    const auto &dialogs = env.responder.files();
    QCOMPARE(dialogs.size(), 4);
    for (const FileDialogCall &d : dialogs) {
        QCOMPARE(d.kind, FileDialogKind::Open);
        QCOMPARE(d.title, QStringLiteral("Select Movrel Object File"));
        QCOMPARE(d.filter, DsoFilter);
        QCOMPARE(d.filterIndex, 1);
        QCOMPARE(d.defaultExt, QStringLiteral("DSO"));
    }
    // Each dialog starts from the name given last.
    QCOMPARE(dialogs[0].fileName, QStringLiteral("start.DSO"));
    QCOMPARE(dialogs[1].fileName, QString());
    QCOMPARE(dialogs[2].fileName, missing);

    // Cancel: no name, no box, the path as it was.
    env.responder.clear();
    env.responder.expectFile(std::nullopt);
    path = QStringLiteral("keep.DSO");
    QCOMPARE(form<frmLoadMain>().OpenDSOFile(path), QString());
    QCOMPARE(path, QStringLiteral("keep.DSO"));
    QVERIFY(env.responder.boxes().isEmpty());
}

void TestFrmLoadMain::saveAsksBeforeOverwriting() {
    MonitorTestEnv env;
    frmLoadMain &w = form<frmLoadMain>();
    const QString existing = makeFile(env.dir(), QStringLiteral("LINE.DSO"));
    const QString question = existing + QStringLiteral(" already exists. Do you want to overwrite ?");

    // Cancel on the question shows the dialog again; OK takes the name and
    // leaves the file for the upload to replace.
    env.responder.expectFile(existing);
    env.responder.expectBox(question, mbCancel);
    env.responder.expectFile(existing);
    env.responder.expectBox(question, mbOK);
    QString path;
    QCOMPARE(w.SaveDSOFile(path), existing);
    QCOMPARE(path, existing);
    QVERIFY(QFileInfo::exists(existing));
    QVERIFY(env.responder.done());
    for (const MsgBoxCall &b : env.responder.boxes()) {
        QCOMPARE(b.buttons, int(mbOKCancel));
        QCOMPARE(b.icon, 0);
    }
    for (const FileDialogCall &d : env.responder.files()) {
        QCOMPARE(d.kind, FileDialogKind::Save);
        QCOMPARE(d.title, QStringLiteral("Enter Movrel Object File"));
        QCOMPARE(d.filter, DsoFilter);
        QCOMPARE(d.filterIndex, 1);
        QCOMPARE(d.defaultExt, QStringLiteral("DSO"));
    }

    // A new file is taken without a question.
    env.responder.clear();
    const QString fresh = env.dir() + QStringLiteral("/NEW.DSO");
    env.responder.expectFile(fresh);
    QCOMPARE(w.SaveDSOFile(path), fresh);
    QVERIFY(env.responder.boxes().isEmpty());
}

void TestFrmLoadMain::saveEmptyNameAndCancel() {
    MonitorTestEnv env;
    env.responder.expectFile(QString());
    env.responder.expectBox(QStringLiteral("Please select a file."));
    env.responder.expectFile(std::nullopt);
    QString path = QStringLiteral("old.DSO");
    QCOMPARE(form<frmLoadMain>().SaveDSOFile(path), QString());
    QVERIFY(env.responder.done());
    QCOMPARE(env.responder.boxes().size(), 1);
    QCOMPARE(env.responder.boxes().front().icon, int(mbExclamation));
}

QTEST_MAIN(TestFrmLoadMain)
#include "test_frmloadmain.moc"
