#include "main/frmMain.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QHostAddress>
#include <QTimer>
#include <QRegularExpression>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <arpa/inet.h>
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <optional>
#include <utility>

#include "core/basics.h"
#include "core/codeDBase.h"
#include "core/codeORVmain.h"
#include "core/eventpump.h"
#include "core/frmFiles.h"
#include "core/frmSetup.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"
#include "core/settings.h"
#include "main/linkattempt.h"
#include "main/linkprobe.h"
#include "main/symbolimport.h"
#include "windows/frames.h"
#include "datatable/frmTable.h"
#include "main/frmDDE.h"
#include "transfer/frmFile.h"
#include "transfer/frmLoadMain.h"
#include "transfer/frmProgFlash.h"

namespace {
const QString MainTitle = QStringLiteral("ORV Monitor V3.6");

QString num(int64_t v) { return QString::number(v); }

// The number-to-text form: a leading blank for numbers that are not negative.
QString str(int64_t v) { return v < 0 ? QString::number(v) : QStringLiteral(" ") + QString::number(v); }

// The 32-bit network-order address of a dotted text; nullopt when the text
// is empty or not an address.
std::optional<int32_t> netAddress(const QString &text) {
    in_addr a{};
    const QString t = text.trimmed();
    if (t.isEmpty() || inet_pton(AF_INET, t.toLatin1().constData(), &a) != 1) return std::nullopt;
    return static_cast<int32_t>(a.s_addr);
}

// Runs a step; run-time errors inside it are ignored.
template <class F> void ignoring(F &&f) {
    try {
        f();
    } catch (const std::exception &) {
    }
}
}  // namespace

frmMain::frmMain() : Form(QStringLiteral("frmMain")) { setLinkTopic(QStringLiteral("ORVmain")); }

void frmMain::buildControls() {
    resize(733, 533);
    auto *layout = new QVBoxLayout(this);
    buildMenus(layout);
    auto *grid = new QGridLayout();
    const auto button = [this](const char *name, const char *caption) {
        return named(new SSCommand(QString::fromLatin1(caption), this), QString::fromLatin1(name));
    };
    RegisterButton = button("RegisterButton", "Registers");
    NVRamButton = button("NVRamButton", "NV Registers");
    InputButton = button("InputButton", "Digital Inputs");
    OutputButton = button("OutputButton", "Digital Outputs");
    AinButton = button("AinButton", "Analog Inputs");
    AoutButton = button("AoutButton", "Analog Outputs");
    FlagButton = button("FlagButton", "Flags");
    ServoButton = button("ServoButton", "Motors/Servos");
    Cust1Button = button("Cust1Button", "Custom Screen 1");
    Cust2Button = button("Cust2Button", "Custom Screen 2");
    StatButton = button("StatButton", "Step Status");
    TableButton = button("TableButton", "Data Table");
    SSCommand *buttons[] = {RegisterButton, NVRamButton, InputButton, OutputButton, AinButton,   AoutButton,
                            FlagButton,     ServoButton, Cust1Button, Cust2Button,  StatButton, TableButton};
    for (int i = 0; i < 12; ++i) grid->addWidget(buttons[i], i / 4, i % 4);
    layout->addLayout(grid);
    auto *run = new QHBoxLayout();
    StartButton = button("StartButton", "Start");
    StopButton = button("StopButton", "Stop");
    ResetButton = button("ResetButton", "Reset");
    SuspendButton = button("SuspendButton", "Suspend Monitoring");
    SuspendButton->setForeColor(ColourRed);
    for (SSCommand *b : {StartButton, StopButton, ResetButton, SuspendButton}) run->addWidget(b);
    layout->addLayout(run);
    layout->addStretch();
    Message = named(new QLabel(this), QStringLiteral("Message"));
    Message->setWordWrap(true);
    layout->addWidget(Message);
    Timer1 = new FormTimer(this, QStringLiteral("Timer1"), 1000, false);
    Timer2 = new FormTimer(this, QStringLiteral("Timer2"), 100, false);
    Timer3 = new FormTimer(this, QStringLiteral("Timer3"), 500, false);
    connect(Timer1, &FormTimer::Timer, this, [this] { Timer1_Timer(); });
    connect(Timer2, &FormTimer::Timer, this, [this] { Timer2_Timer(); });
    connect(Timer3, &FormTimer::Timer, this, [this] { Timer3_Timer(); });
    // What shows the link's state follows its owner.
    ControllerLink &link = controllerLink();
    connect(&link, &ControllerLink::changed, this, [this] { followLink(); });
    connect(&link, &ControllerLink::lost, this, [this](const QString &why) {
        markValuesStale();
        // A deliberate reconnect is no failure to report.
        if (why.isEmpty()) return;
        const QString text = QStringLiteral("Connection lost - ") + why;
        showLinkDown(text);
        setDdeMessage(text);
    });
    connect(&link, &ControllerLink::closed, this, [this](const QString &text) {
        markValuesStale();
        showLinkClosed(text);
    });
    connect(&link, &ControllerLink::suspended, this, [this] { markValuesStale(); });
    connect(SuspendButton, &QPushButton::clicked, this, [this] { SuspendButton_Click(); });
    connect(StartButton, &QPushButton::clicked, this, [this] { StartButton_Click(); });
    connect(StopButton, &QPushButton::clicked, this, [this] { StopButton_Click(); });
    connect(ResetButton, &QPushButton::clicked, this, [this] { ResetButton_Click(); });
    const std::pair<SSCommand *, void (frmMain::*)()> clicks[] = {
        {AinButton, &frmMain::AinButton_Click},       {AoutButton, &frmMain::AoutButton_Click},
        {Cust1Button, &frmMain::Cust1Button_Click},   {Cust2Button, &frmMain::Cust2Button_Click},
        {FlagButton, &frmMain::FlagButton_Click},     {InputButton, &frmMain::InputButton_Click},
        {NVRamButton, &frmMain::NVRamButton_Click},   {OutputButton, &frmMain::OutputButton_Click},
        {RegisterButton, &frmMain::RegisterButton_Click}, {ServoButton, &frmMain::ServoButton_Click},
        {StatButton, &frmMain::StatButton_Click},     {TableButton, &frmMain::TableButton_Click}};
    for (const auto &[b, f] : clicks) connect(b, &QPushButton::clicked, this, [this, f = f] { (this->*f)(); });
}

void frmMain::setStatus(const QString &text) {
    Message->setText(text);
    RefreshMessage();
}

void frmMain::setLinkStatus(const QString &text) {
    pendingLinkDown_.clear();
    Message->setText(text);
    Message->repaint();
}

void frmMain::showLinkDown(const QString &text) {
    if (!userMessageHeld()) {
        setLinkStatus(text);
        return;
    }
    pendingLinkDown_ = text;
    if (!linkDownTimer_) {
        linkDownTimer_ = new QTimer(this);
        linkDownTimer_->setSingleShot(true);
        connect(linkDownTimer_, &QTimer::timeout, this, [this] {
            const QString due = std::exchange(pendingLinkDown_, QString());
            if (!due.isEmpty() && Message->text() == userMessage_ && NoComm) setLinkStatus(due);
        });
    }
    linkDownTimer_->start(int(std::max<qint64>(0, messageHoldMs - userMessageAge_.elapsed())));
}

// Every window writes the status line and then calls this: such a message
// answers something the user did and is kept a while from the reconnect
// failure message.
void frmMain::RefreshMessage() {
    Message->repaint();
    userMessage_ = Message->text();
    userMessageAge_.start();
}

bool frmMain::userMessageHeld() const {
    return !userMessage_.isEmpty() && userMessageAge_.isValid() && userMessageAge_.elapsed() < messageHoldMs &&
           Message->text() == userMessage_;
}

void frmMain::scheduleReconnect() {
    const int update = std::clamp(DdeUpdateMs, 10, 32000);
    const int longest = std::max(5000, update);
    reconnectStepMs_ = reconnectStepMs_ == 0 ? update : std::min(reconnectStepMs_ * 2, longest);
    reconnectDelayMs_ = reconnectStepMs_;
    Timer1->setInterval(reconnectDelayMs_);
}

void frmMain::followLink() {
    const bool waits = controllerLink().waitsForUser();
    SuspendButton->setCaption(waits ? QStringLiteral("Resume Monitoring") : QStringLiteral("Suspend Monitoring"));
    SuspendButton->setForeColor(waits ? ColourDarkGreen : ColourRed);
    for (SSCommand *b : {StartButton, StopButton, ResetButton}) b->setEnabled(!waits);
}

// ---- Connection manager ------------------------------------------------------

bool frmMain::applyIdentity(const ControllerIdentity &id) {
    ControllerLink &link = controllerLink();
    link.markIdentified(false);
    if (!id.answered) return false;
    ControllerModel = id.model;
    EaType = id.eaType;
    const OrvComm::ZQ_IO_COUNT &c = id.counts;
    const int32_t v[7] = {c.flags, c.inputs, c.outputs, c.steppers, c.servos, c.analogInputs, c.analogOutputs};
    // A count that does not fit its 16 bits leaves the controller unknown.
    for (int32_t x : v)
        if (x < INT16_MIN || x > INT16_MAX) return false;
    NumFlags = int16_t(v[0]);
    NumDigitalInputs = int16_t(v[1]);
    NumDigitalOutputs = int16_t(v[2]);
    IoCount4 = int16_t(v[3]);
    NumServos = int16_t(v[4]);
    NumAnalogInputs = int16_t(v[5]);
    NumAnalogOutputs = int16_t(v[6]);
    const int32_t m = ControllerModel;
    if (m == 3 || (m >= 5 && m <= 9)) TaskLayout = {4, 32, 1024};
    else if (m == 10 || m == 11) TaskLayout = {8, 64, 1280};
    else if (m >= 12) TaskLayout = {16, 128, 4096};
    else TaskLayout = {2, 16, 256};
    if (id.askedMore) {
        if (id.miscRead)
            MiscIoCount = {int16_t(id.misc.prototype), int16_t(id.misc.hsCounters), int16_t(id.misc.thumbwheels),
                           int16_t(id.misc.displays)};
        ControllerStatusBits = id.status;
        InputStatusBits = id.config;
    }
    link.markIdentified(true);
    return true;
}

bool frmMain::ConfigZQComm() { return applyIdentity(readIdentity(ConnectionHandle)); }

bool frmMain::connectFailed(const QString &why) {
    // The program's first attempt fails silently; any other failure says
    // so (also one that ends after its attempt was started, from the event
    // loop, and one right after the user set up the connection).
    if (ConnectFailedBefore || ReconnectPending || !startUpAttempt_) {
        ++ConnectFailCount;
        showLinkDown(QStringLiteral("(") + str(ConnectFailCount) +
                     QStringLiteral(" ) Failed to make connection, please configure - ") + QStringLiteral(" ") + why);
    }
    controllerLink().close();
    ConnectFailedBefore = true;
    scheduleReconnect();
    DoEvents();
    repaint();
    DoEvents();
    repaint();
    armPollStart();
    return true;
}

bool frmMain::connectFailedOn(int32_t connection) {
    return connectFailed(controllerLink().fetchFailure(connection));
}

void frmMain::abandonAttempt() {
    ++attempt_;
    if (probe_) {
        probe_->disconnect(this);
        probe_->deleteLater();
        probe_ = nullptr;
    }
    if (serial_) {
        // Waits for the request under way, at the most.
        serial_->abandon();
        serial_->deleteLater();
        serial_ = nullptr;
    }
}

void frmMain::waitForAttempt() {
    if (!attemptPending()) return;
    // Every attempt ends by itself: the probe has its deadline, the serial
    // attempt its five rates. (Not an event loop of its own: one would end
    // at once once the program has been told to quit.)
    while (attemptPending()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void frmMain::placeConfiguredLink() {
    ControllerLink::Place place;
    if (CommPort == 0) {
        place = {QStringLiteral("at node ") + num(TargetNode), QStringLiteral("adapter ") + num(AdapterIndex),
                 QStringLiteral("node ") + num(TargetNode)};
    } else if (CommPort == 1 || CommPort == 2) {
        const QString ip = ControllerIP.trimmed();
        place = {(CommPort == 1 ? QStringLiteral("at UDP ") + ip + QStringLiteral(":3000")
                                : QStringLiteral("at TCP ") + ip + QStringLiteral(":6000")),
                 QString(), ip};
    } else {
        const QString device = ControllerLink::serialDevice(CommPort - 2);
        place = {QStringLiteral("on COM") + num(CommPort - 2), device, device};
    }
    controllerLink().setPlace(place);
}

bool frmMain::CheckComm() {
    ControllerLink &link = controllerLink();
    abandonAttempt();
    startUpAttempt_ = std::exchange(firstAttempt_, false);
    link.markReconnecting();
    if (ConnectionHandle != 0 && !closeCurrentLink()) return connectFailed(link.lastFailure());
    if (MonitoringSuspended) return false;
    placeConfiguredLink();
    link.noteFailure(QString());  // this attempt's failure, or none

    if (const auto early = openConfiguredLink()) return *early;
    return finishAttempt(ConfigZQComm());
}

bool frmMain::finishAttempt(bool ok) {
    if (!ok) return connectFailedOn(ConnectionHandle);
    // The user may have suspended monitoring while events ran: the link
    // stays as the user left it.
    if (MonitoringSuspended) {
        controllerLink().close();
        return false;
    }
    showConnected();
    armPollStart();
    return false;
}

// After every attempt Timer3 starts polling, unless the setup window is open.
void frmMain::armPollStart() {
    if (SetupOpen) return;
    PollStartPending = true;
    Timer3->setEnabled(true);
}

bool frmMain::closeCurrentLink() {
    ControllerLink &link = controllerLink();
    const int32_t handle = ConnectionHandle;
    if (link.close(true)) return true;
    // The reason, before the connection is dropped.
    link.fetchFailure(handle);
    link.markDropped();
    return false;
}

std::optional<bool> frmMain::openConfiguredLink() {
    try {
        if (CommPort == 0) return openRawEthernetLink();
        if (CommPort == 1 || CommPort == 2) return openNetLink();
        return openSerialLink();
    } catch (const std::exception &e) {
        if (ConnectionHandle == 0) return connectFailed(controllerLink().describe(0, describeException(e)));
    }
    return std::nullopt;
}

std::optional<bool> frmMain::openRawEthernetLink() {
    ControllerLink &link = controllerLink();
    const int attempt = attempt_;
    uint32_t addresses[50] = {};
    int32_t indexes[50] = {};
    int32_t count = 50;
    OrvComm::ZqGetAvailableAdaptersIPList(addresses, indexes, &count);
    DoEvents();
    OrvComm::ZqSetAdapter(AdapterIndex);
    repaint();
    DoEvents();
    Pause(0.1f);
    // Events ran: the user may have suspended monitoring, or another
    // attempt has begun. This one ends without touching the link.
    if (attempt != attempt_ || MonitoringSuspended) return bool(NoComm);
    if (!link.open([] { return OrvComm::ZqOpenConnection(ZQ_TYPE_RAW_ETHERNET, HostNode, TargetNode); }))
        return connectFailed(link.lastFailure());
    OrvComm::ZqSetConnectionTimeout(ConnectionHandle, usableTimeout(TimeoutMs));
    int32_t value = 0;
    // The reason is the connection's own, read before it is closed.
    if (OrvComm::ZqGetRegister(ConnectionHandle, 1, &value) != 1) return connectFailedOn(ConnectionHandle);
    return std::nullopt;
}

std::optional<bool> frmMain::openNetLink() {
    // An empty or invalid address opens nothing (it would be the broadcast
    // address on the wire).
    const auto address = netAddress(ControllerIP);
    if (!address) return connectFailed(QStringLiteral("No usable controller IP address"));
    // The library is asked to open the link only once the controller has
    // answered the probe; until then the window goes on.
    probe_ = new LinkProbe(CommPort == 1 ? LinkProbe::Kind::Udp : LinkProbe::Kind::Tcp,
                           QHostAddress(ControllerIP.trimmed()), usableTimeout(TimeoutMs), this);
    const int attempt = attempt_;
    connect(probe_, &LinkProbe::answered, this, [this, attempt] {
        if (attempt != attempt_) return;
        probe_->deleteLater();
        probe_ = nullptr;
        probeAnswered();
    });
    connect(probe_, &LinkProbe::failed, this, [this, attempt](const QString &why) {
        if (attempt != attempt_) return;
        probe_->deleteLater();
        probe_ = nullptr;
        connectFailed(why);
    });
    probe_->start();
    return true;
}

void frmMain::probeAnswered() {
    ControllerLink &link = controllerLink();
    // Meanwhile the user may have suspended monitoring.
    if (MonitoringSuspended || ConnectionHandle != 0) return;
    const auto address = netAddress(ControllerIP);
    if (!address) {
        connectFailed(QStringLiteral("No usable controller IP address"));
        return;
    }
    const bool opened = CommPort == 1 ? link.open([&] { return OrvComm::ZqOpenConnection(ZQ_TYPE_UDP, 0, *address); })
                                      : link.open([&] {
                                            return OrvComm::ZqOpenNetConnection(ZQ_TYPE_TCP, 0, *address,
                                                                                uint32_t(usableTimeout(TimeoutMs)));
                                        });
    if (!opened) {
        connectFailed(link.lastFailure());
        return;
    }
    if (CommPort == 2) ConnectFailCount = 0;
    ignoring([] { OrvComm::ZqSetConnectionTimeout(ConnectionHandle, usableTimeout(TimeoutMs)); });
    finishAttempt(ConfigZQComm());
}

std::optional<bool> frmMain::openSerialLink() {
    ControllerLink &link = controllerLink();
    // Opening the port and setting its rate ask nothing of the controller;
    // a port that cannot be had ends the attempt at once.
    const int32_t handle = OrvComm::ZqOpenConnection(ZQ_TYPE_SERIAL, CommPort - 2, 0);
    if (handle == 0) return connectFailed(link.fetchFailure(0));
    if (OrvComm::ZqInitConnection(handle, BaudRate, 0, 8, 0) != 1) {
        const QString reason = link.fetchFailure(handle);
        ignoring([handle] { OrvComm::ZqCloseConnection(handle); });
        return connectFailed(reason);
    }
    OrvComm::ZqSetConnectionTimeout(handle, usableTimeout(TimeoutMs));
    AutoBaudSearch = true;
    // The requests, the baud search included, go out off the window
    // thread: the window waits for none of them. The connection is the
    // attempt's until it ends.
    serial_ = new SerialAttempt(handle, usableTimeout(TimeoutMs), this);
    connect(serial_, &SerialAttempt::finished, this, [this](const SerialAttempt::Outcome &outcome) {
        serial_->deleteLater();
        serial_ = nullptr;
        serialAttemptEnded(outcome);
    });
    serial_->start();
    return true;
}

void frmMain::serialAttemptEnded(const SerialAttempt::Outcome &outcome) {
    ControllerLink &link = controllerLink();
    if (outcome.handle == 0) {
        if (outcome.errorKnown) {
            ErrorInfo.code = outcome.errorCode;
            qstrncpy(ErrorInfo.text, outcome.errorText.toLatin1().constData(), sizeof ErrorInfo.text);
        }
        connectFailed(link.describe(outcome.errorCode, outcome.errorText));
        return;
    }
    link.adopt(outcome.handle);
    if (!applyIdentity(outcome.identity)) {
        connectFailed(link.describe(0, QStringLiteral("The controller's I/O counts are out of range")));
        return;
    }
    if (outcome.searchedBaud != 0) BaudRate = outcome.searchedBaud;
    finishAttempt(true);
}

QString frmMain::connectedStatus() const {
    if (CommPort == 0) return QStringLiteral("Connected to Node ") + num(TargetNode);
    if (CommPort == 1 || CommPort == 2) {
        QString status = (CommPort == 1 ? QStringLiteral("Connected to UDP ") : QStringLiteral("Connected to TCP/IP ")) +
                         ControllerIP.trimmed();
        if (!ResolvingHost) status += QStringLiteral(" - ") + ControllerIPText;
        return status;
    }
    return QStringLiteral("Connected to COMM") + num(CommPort - 2) + QStringLiteral(" Baud ") + num(BaudRate);
}

namespace {
// A window captioned with the connection: its title, and the window itself
// (reached only when captioned, since touching a window loads it).
struct CaptionedWindow {
    const char *title;
    Form &(*window)();
    const bool *onlyWhen = nullptr;  // captioned only while this flag is set
};

template <class T> Form &windowOf() { return form<T>(); }

void captionWindows(std::initializer_list<CaptionedWindow> windows) {
    for (const CaptionedWindow &w : windows)
        if (!w.onlyWhen || *w.onlyWhen) w.window().setCaption(QString::fromLatin1(w.title) + ConnectionTitle);
}
}  // namespace

void frmMain::showConnected() {
    const QString status = connectedStatus();
    setLinkStatus(status);
    reconnectStepMs_ = 0;
    reconnectDelayMs_ = 0;
    ConnectionTitle = QStringLiteral(" - ") + status.mid(13);
    setCaption(MainTitle + ConnectionTitle);
    setDdeMessage(status);
    captionWindows({{"Analog Inputs", windowOf<frmAnalIn>},
                    {"Analog Outputs", windowOf<frmAnalOut>},
                    {"Custom Screen 1", windowOf<frmCustom1>, &Custom1Loaded},
                    {"Custom Screen 2", windowOf<frmCustom2>, &Custom2Loaded}});
    CheckCustomRowsLater();
    DdeUpdateMs = std::clamp(DdeUpdateMs, 10, 32000);
    Timer1->setInterval(DdeUpdateMs);
    // Refused when the user suspended monitoring meanwhile: the link stays so.
    if (!controllerLink().markUp()) controllerLink().close();
    captionWindows({{"DDE Screen", windowOf<frmDDE>},
                    {"Digital Inputs", windowOf<frmDigIn>},
                    {"Digital Outputs", windowOf<frmDigOut>},
                    {"Motors/Servos", windowOf<frmServo>},
                    {"NVRegisters", windowOf<frmRam>},
                    {"Step Status", windowOf<frmStatus>},
                    {"Flags", windowOf<frmFlag>},
                    {"Registers", windowOf<frmReg>}});
}

void frmMain::Timer2_Timer() {
    // While a transfer holds the link the reconnect waits for its end.
    if (!ReconnectPending || controllerLink().busy()) return;
    Message->setText(QString());
    frmSetup &setup = form<frmSetup>();
    setup.txtResolveIP->setText(num(setup.txtResolveIP->text().toLongLong() + 1));
    resetReconnectBackOff();
    if (MonitoringSuspended) SuspendButton_Click();
    else CheckComm();
    // An attempt that goes on from the event loop says so until it ends.
    if (attemptPending() && Message->text().isEmpty()) setLinkStatus(QStringLiteral("Establishing Connection"));
    ReconnectPending = false;
    Timer2->setEnabled(false);
}

void frmMain::Timer3_Timer() {
    if (!PollStartPending) return;
    Timer1->setEnabled(true);
    PollStartPending = false;
    Timer3->setEnabled(false);
}

// ---- Version test -----------------------------------------------------------------

int16_t frmMain::VersionAbove3030(const QString &fileName) {
    static const QRegularExpression re(QStringLiteral("^liborvcomm\\.so\\.(\\d+)\\.(\\d+)\\.(\\d+)(?:\\.(\\d+))?$"));
    const auto m = re.match(QFileInfo(fileName).fileName());
    if (!m.hasMatch()) return 0;
    const int16_t want[4] = {3, 0, 3, 0};
    for (int i = 0; i < 4; ++i) {
        const int16_t part = int16_t(m.captured(i + 1).isEmpty() ? 0 : m.captured(i + 1).toInt());
        if (part != want[i]) return part > want[i] ? 1 : 0;
    }
    return 0;
}

int16_t frmMain::SelectCommFunction() {
    try {
        OrvComm::ensureLoaded();
        const QString path = OrvComm::loadedLibraryPath();
        if (path.isEmpty() || !QFileInfo::exists(path)) return 0;
        // The loaded name is usually the soname link: follow it to the file.
        return VersionAbove3030(QFileInfo(path).canonicalFilePath());
    } catch (const std::exception &) {
        return 0;
    }
}

// ---- Start-up and shut-down ------------------------------------------------------

namespace {
// The start-up steps of the main window that only touch the program's state.

void readCommunicationSettings() {
    if (!readSettingsSection(QStringLiteral("Communications"), QStringLiteral("Communications"), [](int32_t key) {
            if (!QueryLongValue(key, QStringLiteral("BAUD Rate"), BaudRate)) BaudRate = 19200;
            if (!QueryLongValue(key, QStringLiteral("COMM Port"), CommPort)) CommPort = 3;
            if (!QueryLongValue(key, QStringLiteral("Host"), HostNode)) HostNode = 32767;
            if (!QueryLongValue(key, QStringLiteral("Target"), TargetNode)) TargetNode = 1;
            if (!QueryLongValue(key, QStringLiteral("Adapter"), AdapterIndex)) AdapterIndex = 1;
            if (!QueryStringValue(key, QStringLiteral("IP Address"), ControllerIPText)) ControllerIP.clear();
            if (!QueryLongValue(key, QStringLiteral("Timeout"), TimeoutMs)) TimeoutMs = 300;
            if (TimeoutMs == 0) TimeoutMs = 350;
            TimeoutMs = usableTimeout(TimeoutMs);
        })) {
        BaudRate = 9600;
        CommPort = 3;
        HostNode = 999;
        TargetNode = 0;
        ControllerIP.clear();
        TimeoutMs = 250;
    }
}

// The caption of the configured connection until CheckComm has made it;
// for a network link this starts resolving the controller address.
void setConfiguredConnectionTitle() {
    if (CommPort == 0) {
        ConnectionTitle = QStringLiteral(" - Node ") + num(TargetNode);
    } else if (CommPort == 1 || CommPort == 2) {
        frmSetup &setup = form<frmSetup>();
        setup.txtResolveIP->setText(num(setup.txtResolveIP->text().toLongLong() + 1));
        ConnectionTitle = (CommPort == 1 ? QStringLiteral(" - UDP ") : QStringLiteral(" - TCP/IP ")) + ControllerIP.trimmed();
        if (!ResolvingHost) ConnectionTitle += QStringLiteral(" - ") + ControllerIPText;
    } else {
        ConnectionTitle = QStringLiteral(" - COMM ") + num(CommPort - 2) + QStringLiteral(" Baud ") + num(BaudRate);
    }
}

void readDdeSettings() {
    if (!readSettingsSection(QStringLiteral("DDE Setup"), QStringLiteral("DDE Setup"), [](int32_t key) {
            if (!QueryLongValue(key, QStringLiteral("Block 50 Address"), DdeBlock50Address)) DdeBlock50Address = 0;
            if (!QueryLongValue(key, QStringLiteral("Flag"), DdeServing)) DdeServing = 0;
            if (!QueryLongValue(key, QStringLiteral("Flag Address"), DdeFlagAddress)) DdeFlagAddress = 1;
            if (!QueryLongValue(key, QStringLiteral("Register Address"), DdeRegisterAddress)) DdeRegisterAddress = 1;
            if (!QueryLongValue(key, QStringLiteral("Update"), DdeUpdateMs)) DdeUpdateMs = 25;
            if (DdeUpdateMs < 10) DdeUpdateMs = 10;
        })) {
        DdeBlock50Address = 0;
        DdeServing = 0;
        DdeFlagAddress = 1;
        DdeRegisterAddress = 1;
        DdeUpdateMs = 1000;
    }
}

void readFileSettings() {
    if (!readSettingsSection(QStringLiteral("Files"), QStringLiteral("Files"), [](int32_t key) {
            if (!QueryStringValue(key, QStringLiteral("Custom Screen 1"), CustomScreen1Path)) CustomScreen1Path.clear();
            if (!QueryStringValue(key, QStringLiteral("Custom Screen 2"), CustomScreen2Path)) CustomScreen2Path.clear();
            if (!QueryStringValue(key, QStringLiteral("Data Table"), DataTablePath)) DataTablePath.clear();
            if (SymbolFilePath.isEmpty() && !QueryStringValue(key, QStringLiteral("Symbol Table"), SymbolFilePath))
                SymbolFilePath.clear();
        })) {
        CustomScreen1Path.clear();
        CustomScreen2Path.clear();
        DataTablePath.clear();
    }
}

// Offers the remembered files, then builds the symbol database from the
// symbol file in use.
void openRememberedFiles() {
    if (!CustomScreen1Path.isEmpty() || !CustomScreen2Path.isEmpty() || !SymbolFilePath.isEmpty() ||
        !DataTablePath.isEmpty())
        form<frmFiles>().ShowModal();

    if (!SymbolFilePath.isEmpty() && CreateSymbolDatabase()) {
        // Nothing is reported here: a file that cannot be read leaves the
        // database empty and the windows with their default names.
        try {
            ParseSymbolFile(SymbolFilePath);
        } catch (const std::exception &) {
        }
        OpenSymbolSnapshots();
    }
}

// Nothing is known of the controller until ConfigZQComm has asked it.
void resetControllerDescription() {
    NumFlags = NumDigitalInputs = NumDigitalOutputs = IoCount4 = NumServos = NumAnalogInputs = NumAnalogOutputs = 0;
    MiscIoCount = {};
    TaskLayout = {};
    RegisterLimit = 40000;
    for (int i = 0; i < 31; ++i) BitWeights[i] = float(1u << i);
    BitWeights[31] = -2147483648.0f;
    for (auto *rows : {&Custom1Rows, &Custom2Rows})
        for (auto &r : *rows) r = CustomResourceRow{QStringLiteral("Not Selected"), 0, 1};
}
}  // namespace

void frmMain::Form_Load() {
    ConnectFailedBefore = false;
    controllerLink().markStart();
    followLink();
    Message->setText(QString());
    CommError = true;

    readCommunicationSettings();
    setConfiguredConnectionTitle();
    readDdeSettings();
    readFileSettings();
    readWindowPlacement();
    openRememberedFiles();

    form<frmDDE>();
    DoEvents();
    setCaption(MainTitle + ConnectionTitle);

    resetControllerDescription();
    firstAttempt_ = true;
    CheckComm();
}

void frmMain::readWindowPlacement() {
    int32_t top = 1008, left = 2036, height = 8000, width = 11000;
    readSettingsSection(QStringLiteral("Main"), QStringLiteral("Main"), [&](int32_t key) {
        if (!QueryLongValue(key, QStringLiteral("Top"), top)) top = 1008;
        if (!QueryLongValue(key, QStringLiteral("Left"), left)) left = 1236;
        if (!QueryLongValue(key, QStringLiteral("Height"), height)) height = 8000;
        if (!QueryLongValue(key, QStringLiteral("Width"), width)) width = 11000;
        int32_t q600 = 0;
        if (QueryLongValue(key, QStringLiteral("Q600 Support"), q600) && q600 == 1) Q600Support = true;
    });
    setTop(top);
    setLeft(left);
    setHeight(height);
    setWidth(width);
}

namespace {
// The shut-down steps of the main window.

// Unloads every other window, each saving its own settings; False when a
// custom window stays open.
bool unloadAllWindows() {
    unloadForm<frmReg>();
    unloadForm<frmRam>();
    unloadForm<frmDigIn>();
    unloadForm<frmAnalIn>();
    unloadForm<frmFlag>();
    unloadForm<frmDigOut>();
    unloadForm<frmAnalOut>();
    unloadForm<frmServo>();
    unloadForm<frmServo2>();
    // A custom window whose changes could not be saved stays open, and so
    // does the program.
    if (!unloadForm<frmCustom1>() || !unloadForm<frmCustom2>()) return false;
    unloadForm<frmStatus>();
    unloadForm<frmTable>();
    unloadForm<frmSetup>();
    unloadForm<frmDDE>();
    unloadForm<frmProgFlash>();
    unloadForm<frmLoadMain>();
    unloadForm<frmFile>();
    return true;
}

void closeLinkAndSymbols() {
    if (!controllerLink().close()) MsgBox(QStringLiteral("Failed to CLOSE network!"));
    CloseSymbolDatabase();
}

void writeCommunicationSettings() {
    writeSettingsSection(QStringLiteral("Communications"), QStringLiteral("Conmmunications"),
                         QStringLiteral("Communication"), [](int32_t key) {
                             SetLongValue(key, QStringLiteral("BAUD Rate"), BaudRate);
                             SetLongValue(key, QStringLiteral("COMM Port"), CommPort);
                             SetLongValue(key, QStringLiteral("Host"), HostNode);
                             SetLongValue(key, QStringLiteral("Target"), TargetNode);
                             SetStringValue(key, QStringLiteral("IP Address"), ControllerIPText);
                             SetLongValue(key, QStringLiteral("Timeout"), TimeoutMs);
                             SetLongValue(key, QStringLiteral("Adapter"), AdapterIndex);
                         });
}

void writeDdeSettings() {
    writeSettingsSection(QStringLiteral("DDE Setup"), QStringLiteral("DDE Setup"), QStringLiteral("DDE Setup"),
                         [](int32_t key) {
                             SetLongValue(key, QStringLiteral("Block 50 Address"), DdeBlock50Address);
                             SetLongValue(key, QStringLiteral("Flag"), DdeServing);
                             SetLongValue(key, QStringLiteral("Flag Address"), DdeFlagAddress);
                             SetLongValue(key, QStringLiteral("Register Address"), DdeRegisterAddress);
                             SetLongValue(key, QStringLiteral("Update"), DdeUpdateMs);
                         });
}

void writeFileSettings() {
    writeSettingsSection(QStringLiteral("Files"), QStringLiteral("File"), QStringLiteral("File"), [](int32_t key) {
        SetStringValue(key, QStringLiteral("Custom Screen 1"), CustomScreen1Path);
        SetStringValue(key, QStringLiteral("Custom Screen 2"), CustomScreen2Path);
        SetStringValue(key, QStringLiteral("Data Table"), DataTablePath);
        SetStringValue(key, QStringLiteral("Symbol Table"), SymbolFilePath);
    });
}
}  // namespace

void frmMain::Form_Unload(int &cancel) {
    try {
        if (!unloadAllWindows()) {
            cancel = 1;
            return;
        }
        Timer1->setEnabled(false);
        Timer2->setEnabled(false);
        Timer3->setEnabled(false);
        abandonAttempt();
        closeLinkAndSymbols();
        writeCommunicationSettings();
        writeDdeSettings();
        writeFileSettings();
        writeWindowPlacement();
    } catch (const std::exception &) {
        MsgBox(QStringLiteral("Error CLOSING ORV Monitor !!!"));
    }
    // Closing the main window ends the program.
    QCoreApplication::exit(0);
}

void frmMain::writeWindowPlacement() {
    int32_t top = 1008, left = 1236, height = 8000, width = 10000;
    if (WindowState() == wsNormal) {
        top = Top();
        left = Left();
        height = Height();
        width = Width();
    }
    writeSettingsSection(QStringLiteral("Main"), QStringLiteral("Main"), QStringLiteral("Main"), [&](int32_t key) {
        SetLongValue(key, QStringLiteral("Top"), top);
        SetLongValue(key, QStringLiteral("Left"), left);
        SetLongValue(key, QStringLiteral("Height"), height);
        SetLongValue(key, QStringLiteral("Width"), width);
        if (Q600Support) SetLongValue(key, QStringLiteral("Q600 Support"), 1);
    });
}
