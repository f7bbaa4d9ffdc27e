// orvgallery: the monitor program with a driver that opens every window in
// turn with representative values and writes a picture of each into a
// folder. tools/screenshots.sh runs it under xvfb-run against the emulator.
//
//   orvgallery <output folder> [symbol file]
//
// The monitor starts as usual (splash, main window, connection from the
// settings file that ORVMON_SETTINGS names). Message boxes are answered OK
// and printed on the standard error, so nothing waits for a user.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "core/codeORVmain.h"
#include "core/dde.h"
#include "core/forms.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/orvcomm_binding.h"
#include "core/frmAbout.h"
#include "core/frmFiles.h"
#include "core/frmRTC.h"
#include "core/frmSetup.h"
#include "core/frmSplash.h"
#include "datatable/frmTable.h"
#include "datatable/frmTableMon.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "main/symbolimport.h"
#include "transfer/frmFile.h"
#include "transfer/frmFlashSelect.h"
#include "transfer/frmLoadMain.h"
#include "transfer/frmProgFlash.h"
#include "windows/frames.h"

namespace {

class AnswerOk : public DialogResponder {
public:
    int answerBox(const MsgBoxCall &call) override {
        std::fprintf(stderr, "orvgallery: box: %s\n", qPrintable(call.prompt));
        return (call.buttons & 7) == mbYesNo || (call.buttons & 7) == mbYesNoCancel ? mbNo : mbOK;
    }
    FileDialogAnswer answerFile(const FileDialogCall &) override { return std::nullopt; }
};

void shoot(Form &f);

// A modal window (the remembered files at start-up) is pictured and
// confirmed instead of waiting for a user.
class ConfirmModal : public ModalRunner {
public:
    void run(Form &f) override {
        applyShow(f);
        shoot(f);
        if (auto *files = qobject_cast<frmFiles *>(&f)) files->SSCommand1_Click();
        else f.Unload();
    }
    static void applyShow(Form &f) { f.show(); }
};

// Lets the program run (polling, painting) for a while.
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString outDir;
int failures = 0;

void save(const QPixmap &picture, const QString &name) {
    const QString path = outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "orvgallery: cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void shoot(Form &f) {
    f.raise();
    f.activateWindow();
    settle(900);  // a few polls fill the values
    save(f.grab(), f.objectName());
}

// Opens a window, pictures it and closes it again.
template <class T> void window(const std::function<void()> &open, bool close = true) {
    try {
        open();
        T &f = form<T>();
        if (!f.isVisible()) f.Show();
        shoot(f);
        if (close) f.Unload();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "orvgallery: %s\n", e.what());
        ++failures;
    }
}

// Values at the edges of what the boxes must show.
void representativeValues() {
    if (NoComm) return;
    const int32_t values[16] = {INT32_MIN, INT32_MAX, -1, 0, 12345, -987654, 1000000, 42,
                                7,         -32768,    65535, 100, 2000000000, -2000000000, 3, 16};
    for (int i = 0; i < 16; ++i) OrvComm::ZqPutRegister(ConnectionHandle, i + 1, values[i]);
    OrvComm::ZqPutRegister(ConnectionHandle, 32001, INT32_MIN);
    OrvComm::ZqPutRegister(ConnectionHandle, 8001, 10000);
    OrvComm::ZqPutRegister(ConnectionHandle, 8501, 4095);
}

void customRows() {
    const int16_t kinds[] = {6, 6, 1, 2, 3, 4, 5, 7, 8, 6, 6, 6, 0, 0, 0, 6};
    for (int r = 0; r < 16; ++r) {
        Custom1Rows[size_t(r)].kind = kinds[r];
        Custom1Rows[size_t(r)].number = kinds[r] == 6 ? (r == 15 ? 40000 : r + 1) : 1;
        Custom2Rows[size_t(r)] = Custom1Rows[size_t(r)];
    }
}

void run() {
    frmMain &m = form<frmMain>();
    for (int i = 0; i < 100 && NoComm; ++i) settle(100);
    if (NoComm) std::fprintf(stderr, "orvgallery: no connection; the windows show no values\n");
    representativeValues();
    customRows();
    settle(500);

    // The windows where a first start puts them, before anything else.
    m.RegisterButton_Click();
    settle(900);
    if (QScreen *screen = QGuiApplication::primaryScreen()) save(screen->grabWindow(0), QStringLiteral("desktop"));
    shoot(m);

    window<frmReg>([] {}, false);
    window<frmRegbits>([] { form<frmReg>().Command1_Click(); });
    unloadForm<frmReg>();
    window<frmRam>([&] { m.NVRamButton_Click(); });
    window<frmDigIn>([&] { m.InputButton_Click(); });
    window<frmDigOut>([&] { m.OutputButton_Click(); });
    window<frmAnalIn>([&] { m.AinButton_Click(); });
    window<frmAnalOut>([&] { m.AoutButton_Click(); });
    window<frmFlag>([&] { m.FlagButton_Click(); });
    window<frmServo>([&] { m.ServoButton_Click(); });
    window<frmServo2>([] {});
    window<frmStatus>([&] { m.StatButton_Click(); });
    window<frmCustom1>([&] { m.Cust1Button_Click(); });
    window<frmCustom2>([&] { m.Cust2Button_Click(); });
    window<frmTable>([&] { m.TableButton_Click(); });
    window<frmTableMon>([] {});
    window<frmDDE>([&] {
        int16_t cancel = 0;
        m.Form_LinkExecute(QStringLiteral("DDESETUP"), cancel);
    });
    window<frmLoadMain>([&] { m.Filemenu_Click(6); });
    window<frmFile>([] {
        frmFile &f = form<frmFile>();
        f.Show();
        f.setCaption(QStringLiteral("Uploading Registers 32001 to 33000 ..."));
        f.SSPanel1->setFloodPercent(42);
    });
    window<frmProgFlash>([] {});
    window<frmFlashSelect>([] {});
    window<frmSymbol>([] {});
    window<frmRTC>([&] { m.SetRTC_Click(); });
    window<frmAbout>([] {});
    window<frmSplash>([] {});
    window<frmSetup>([] {});
}

}  // namespace

int main(int argc, char **argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: orvgallery <output folder> [symbol file]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    outDir = args.takeFirst();
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "orvgallery: cannot create %s\n", qPrintable(outDir));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    useDesignFont();
    AnswerOk answers;
    installDialogResponder(&answers);
    ConfirmModal modal;
    installModalRunner(&modal);
    if (!Main(args.join(u' '))) return 1;
    run();
    form<frmMain>().Unload();
    DdeServer::instance().stop();
    FormRegistry::destroyAll();
    installDialogResponder(nullptr);
    installModalRunner(nullptr);
    return failures == 0 ? 0 : 1;
}
