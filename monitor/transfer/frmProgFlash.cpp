#include "transfer/frmProgFlash.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "core/codeORVmain.h"
#include "core/controls.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "transfer/inputbox.h"

namespace {
const QString DesignModules[] = {QStringLiteral("Q41/Q42/Q43 CPU"), QStringLiteral("Q90/Q91 Comm/DeviceNet")};
const QString Q600Entry = QStringLiteral("Q600 Series Controller");
const QString CRLF = QStringLiteral("\r\n");

bool hourglassShown = false;

// The transfer baud rates in the order the baud button steps through them,
// with the module's code for each.
struct FlashRate {
    int32_t rate;
    uint8_t code;
};
const FlashRate FlashRates[] = {{38400, 3}, {9600, 9}, {19200, 1}};
}  // namespace

void setScreenMousePointer(int pointer) {
    if (pointer == PointerHourglass && !hourglassShown) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        hourglassShown = true;
    } else if (pointer != PointerHourglass && hourglassShown) {
        QApplication::restoreOverrideCursor();
        hourglassShown = false;
    }
}

int screenMousePointer() { return hourglassShown ? PointerHourglass : PointerDefault; }

frmProgFlash::frmProgFlash() : Form(QStringLiteral("frmProgFlash")) {
    reader_.log = [this](const QString &text) { log(text); };
}

void frmProgFlash::buildControls() {
    setWindowTitle(QStringLiteral("Update Firmware"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    VideoSoftElastic1 = named(new QWidget(this), QStringLiteral("VideoSoftElastic1"));
    outer->addWidget(VideoSoftElastic1);
    auto *grid = new QGridLayout(VideoSoftElastic1);

    lblModule = named(new QLabel(QStringLiteral("Select Module to Update"), VideoSoftElastic1), QStringLiteral("lblModule"));
    Combo1 = named(new QComboBox(VideoSoftElastic1), QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    SSCommand1 = named(new SSCommand(QStringLiteral("Start Update"), VideoSoftElastic1), QStringLiteral("SSCommand1"));
    Text1 = named(new QPlainTextEdit(VideoSoftElastic1), QStringLiteral("Text1"));
    // What the user types into the log becomes its text.
    connect(Text1, &QPlainTextEdit::textChanged, this, [this] {
        if (!settingLog_) log_ = Text1->toPlainText().replace(u'\n', CRLF);
    });
    ProgressBar1 = named(new QProgressBar(VideoSoftElastic1), QStringLiteral("ProgressBar1"));
    grid->addWidget(lblModule, 0, 0);
    grid->addWidget(Combo1, 1, 0);
    grid->addWidget(SSCommand1, 1, 1);
    grid->addWidget(Text1, 2, 0, 1, 2);
    grid->addWidget(ProgressBar1, 3, 0, 1, 2);
    grid->setRowStretch(2, 1);

    // Outside the layout and below the visible area: reached by Alt+B and
    // Alt+F only.
    Command1 = named(new QPushButton(QStringLiteral("&B"), this), QStringLiteral("Command1"));
    Command2 = named(new QPushButton(QStringLiteral("&F"), this), QStringLiteral("Command2"));
    Command1->setGeometry(0, 10000, 24, 24);
    Command2->setGeometry(30, 10000, 24, 24);

    resize(480, 360);

    connect(SSCommand1, &QPushButton::clicked, this, [this] { SSCommand1_Click(); });
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

void frmProgFlash::setLogText(const QString &text) {
    log_ = text;
    QString shown = text;
    shown.replace(CRLF, QStringLiteral("\n")).remove(u'\r');
    settingLog_ = true;
    Text1->setPlainText(shown);
    settingLog_ = false;
}

void frmProgFlash::log(const QString &text) { setLogText(text + log_); }

void frmProgFlash::pause(double seconds) { Pause(float(seconds * DelayScale)); }

void frmProgFlash::Form_Load() {
    // The list and the log as designed.
    Combo1->clear();
    for (const QString &m : DesignModules) Combo1->addItem(m);
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QStringLiteral("Select Module"));
    setLogText(QString());

    Combo1->setCurrentIndex(0);
    ProgressBar1->hide();
    FlashBaudRate = 38400;
    BaudCode = 3;
    BaudCodeChar = 51;
    Combo1->insertItem(2, Q600Entry);
}

QString frmProgFlash::ErrMessage(const QString &text) {
    for (qsizetype p = 0; p < text.size(); ++p)
        if (text[p].unicode() < 32) return text.left(p);
    return QString();
}

void frmProgFlash::Command1_Click() {
    std::size_t next = 0;
    for (std::size_t i = 0; i < std::size(FlashRates); ++i)
        if (FlashRates[i].rate == FlashBaudRate) next = (i + 1) % std::size(FlashRates);
    FlashBaudRate = FlashRates[next].rate;
    BaudCode = FlashRates[next].code;
    BaudCodeChar = int16_t('0' + BaudCode);
    setLogText(QStringLiteral("Firmware Update Baud Rate: ") + QString::number(FlashBaudRate));
}

void frmProgFlash::Command2_Click() {
    if (Q600Support) return;
    if (InputBox(QStringLiteral("Enter Support Code")) == QStringLiteral("6170")) {
        Combo1->insertItem(2, Q600Entry);
        Q600Support = true;
    }
}

void frmProgFlash::SSCommand1_Click() {
    // The update lets window events through: a second press meanwhile would
    // start another update on the same connection.
    if (updating_) return;
    updating_ = true;
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{updating_};
    MainWindow &m = mainWindow();
    // A run-time error in these steps is reported once; the steps after it
    // still run, so that the busy flag, the settings and polling come back.
    bool reported = false;
    auto step = [&](auto &&f) {
        try {
            f();
        } catch (const std::exception &) {
            if (!reported) log(QStringLiteral("ERROR RESETTING MONITOR") + CRLF);
            reported = true;
        }
    };

    step([&] {
        m.setPolling(false);
        // A poll start still pending from the last connect would restart
        // polling in the middle of the update, and a connection attempt
        // under way would go on talking to the controller.
        m.cancelPollStart();
        m.abandonAttempt();
    });
    // The update makes connections of its own: the monitor's link is down
    // (its values no longer current) and left alone until the end.
    controllerLink().markReconnecting();
    std::optional<ControllerLink::Hold> hold(std::in_place);
    const int32_t savedTimeout = TimeoutMs;
    const int32_t savedBaud = BaudRate;
    step([&] {
        const int index = Combo1->currentIndex();
        if (index >= 0 && index <= 2) {
            ModuleType = int16_t(index);
            UpdateFirmware();
        } else {
            MsgBox(QStringLiteral("Module Not Yet Supported"), mbOKOnly);
        }
    });
    TimeoutMs = savedTimeout;
    BaudRate = savedBaud;
    step([&] { closeFirmwareFile(); });
    ProgressBar1->hide();
    setScreenMousePointer(PointerDefault);
    step([&] {
        // A refused close keeps the connection until its error is read.
        if (!controllerLink().close(true)) {
            OrvComm::ZQ_ERROR_INFO info{};
            const QString head = QStringLiteral("Failed to Close Connection") + CRLF;
            if (OrvComm::ZqGetErrorInfo(ConnectionHandle, &info) == 1)
                m.setStatusText(head + errorInfoText(info));
            else
                m.setStatusText(head + QStringLiteral("Unknown Error"));
            m.RefreshMessage();
        }
    });
    controllerLink().markDropped();
    hold.reset();
    step([&] {
        if (m.monitoringRunning()) {
            m.CheckComm();
            m.setPolling(true);
        }
    });
}
