#include "transfer/frmLoadMain.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include "core/globals.h"
#include "core/runtime_error.h"
#include "transfer/codeUploadDownload.h"
#include "transfer/twips.h"

namespace {
const QColor White(255, 255, 255);
const QColor Grey(192, 192, 192);
const QColor DarkBlue(0, 0, 192);

// The common dialog's run-time error for Cancel.
constexpr int CancelSelected = 32755;

bool fileExists(const QString &path) { return QFileInfo(path).isFile(); }

// A cancelled dialog ends quietly; any other error is shown. Both give an
// empty name.
QString dialogFailed(const std::exception &e) {
    auto *r = dynamic_cast<const RuntimeError *>(&e);
    if (!r || r->number() != CancelSelected) MsgBox(describeException(e), mbExclamation);
    return QString();
}
}  // namespace

frmLoadMain::frmLoadMain() : Form(QStringLiteral("frmLoadMain")) {}

void frmLoadMain::buildControls() {
    setWindowTitle(QStringLiteral("Program Transfer Utility"));
    setProperty("LinkTopic", QStringLiteral("ORVmain"));
    setWidth(5655);
    setHeight(2130);

    Command1[4] = named(new QPushButton(QStringLiteral("&1"), this), QStringLiteral("Command1"), 4);
    placeTwips(Command1[4], 240, 240, 372, 372);
    Label1[4] = named(new QLabel(QStringLiteral("Movrel Program Upload"), this), QStringLiteral("Label1"), 4);
    // The label bands end short of the Exit button beside them.
    placeTwips(Label1[4], 840, 240, 3360, 375);
    Command1[3] = named(new QPushButton(QStringLiteral("&2"), this), QStringLiteral("Command1"), 3);
    placeTwips(Command1[3], 240, 840, 372, 372);
    Label1[3] = named(new QLabel(QStringLiteral("Movrel Program Download "), this), QStringLiteral("Label1"), 3);
    placeTwips(Label1[3], 840, 840, 3360, 375);
    for (int i : {3, 4}) setColours(Label1[i], White, DarkBlue);

    ExitButton = named(new QPushButton(QStringLiteral("E&xit"), this), QStringLiteral("ExitButton"));
    placeTwips(ExitButton, 4320, 480, 1092, 372);
    connect(ExitButton, &QPushButton::clicked, this, [this] { ExitButton_Click(); });
    for (int i : {3, 4}) connect(Command1[size_t(i)], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });

    Label2 = named(new QLabel(this), QStringLiteral("Label2"));
    placeTwips(Label2, 0, 1320, 5655, 810);  // to the bottom of the window
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setColours(Label2, Grey, DarkBlue);
}

void frmLoadMain::Form_Load() {
    Label2->clear();
    // The next serial connection starts at 9600 baud.
    BaudRate = 9600;
}

void frmLoadMain::Command1_Click(int index) {
    // From its first call to its last the transfer alone uses the link: the
    // polling loop and the connection manager leave it alone.
    const ControllerLink::Hold held;
    try {
        if (index == 3) DownloadProgram();
        else if (index == 4) UploadProgram();
    } catch (const std::exception &e) {
        MsgBox(describeException(e), mbExclamation);
    }
}

void frmLoadMain::ExitButton_Click() { Hide(); }

void frmLoadMain::prepareDialog(const QString &title, const QString &path) {
    CMDialog1.CancelError = true;
    CMDialog1.FileName = path;
    CMDialog1.DialogTitle = title;
    CMDialog1.DefaultExt = QStringLiteral("DSO");
    CMDialog1.Filter = QStringLiteral("DSP Binaries (*.DSO)|*.DSO|All Files (*.*)|*.*");
    CMDialog1.FilterIndex = 1;
}

QString frmLoadMain::OpenDSOFile(QString &path) {
    try {
        for (;;) {
            prepareDialog(QStringLiteral("Select Movrel Object File"), path);
            CMDialog1.ShowOpen(this);
            path = CMDialog1.FileName;
            if (path.isEmpty()) {
                MsgBox(QStringLiteral("Please select a file to download."), mbExclamation);
            } else if (!fileExists(path)) {
                MsgBox(QStringLiteral("File entered does not exist."), mbExclamation);
            } else {
                return path;
            }
        }
    } catch (const std::exception &e) {
        return dialogFailed(e);
    }
}

QString frmLoadMain::SaveDSOFile(QString &path) {
    try {
        for (;;) {
            prepareDialog(QStringLiteral("Enter Movrel Object File"), path);
            CMDialog1.ShowSave(this);
            path = CMDialog1.FileName;
            if (path.isEmpty()) {
                MsgBox(QStringLiteral("Please select a file."), mbExclamation);
                continue;
            }
            // The register values go into the object file's name with
            // ".txt": a name that already ends so would be overwritten.
            if (IsOwnRegisterFile(path)) {
                MsgBox(path + QStringLiteral(" cannot hold a program: its register values would be written over it. "
                                             "Please choose a name that does not end in .txt."),
                       mbExclamation);
                continue;
            }
            if (!fileExists(path)) return path;
            if (MsgBox(path + QStringLiteral(" already exists. Do you want to overwrite ?"), mbOKCancel) != mbOK)
                continue;
            // The file stays until a complete upload takes its place (an
            // incomplete one asks first).
            return path;
        }
    } catch (const std::exception &e) {
        return dialogFailed(e);
    }
}
