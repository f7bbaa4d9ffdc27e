#include "core/frmSetup.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <exception>
#include <functional>
#include <optional>

#include "core/basics.h"
#include "core/codeORVmain.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "core/msgbox.h"

namespace {

const QString ClosedCaption = QStringLiteral("+ Change Controller Network Addresses (Click to Open)");
const QString OpenCaption = QStringLiteral("- Change Controller Network Addresses (Click to Close)");
constexpr int32_t FrameClosed = 255;
constexpr int32_t FrameOpen = 2500;
// The shortest reply time-out the field takes.
constexpr int32_t ShortestTypedTimeoutMs = 10;

// A field's number: its leading number rounded to a whole number, halves to
// even (0 when the text holds none).
double fieldNumber(const QString &text) { return std::nearbyint(leadingNumber(text)); }

// A field converted whole to a whole number; nullopt when the text as a whole
// is no number or the number does not fit 32 bits.
std::optional<int32_t> wholeNumber(const QString &text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return roundToWhole(v, BoxBits::Bits32);
}

QString num(int64_t v) { return QString::number(v); }

// A library call; a run-time error of the binding counts as a failed call.
template <class F> int32_t libraryCall(F &&f) try { return f(); } catch (const std::exception &) { return 0; }

// The text of the last error as the library left it (up to its first NUL).
QString errorText() {
    ErrorInfo.text[sizeof ErrorInfo.text - 1] = 0;
    return QString::fromLatin1(ErrorInfo.text);
}

void fetchError() {
    libraryCall([] { return OrvComm::ZqGetErrorInfo(ConnectionHandle, &ErrorInfo); });
}

// A dotted address that a connection can be opened to, or empty: the text
// must be a plain dotted quad, and neither the "this network" block 0.x.x.x
// nor the limited broadcast address is a controller.
QString usableAddress(const QString &dotted) {
    in_addr a{};
    if (dotted.isEmpty() || inet_pton(AF_INET, dotted.toLatin1().constData(), &a) != 1) return QString();
    const uint32_t host = ntohl(a.s_addr);
    if ((host >> 24) == 0 || host == 0xFFFFFFFFu) return QString();
    return dotted;
}

// The dotted address of a host name; a text of digits and dots only is no
// host name (and not a dotted address either), so it is not looked up.
QString lookUp(const QString &name) {
    if (name.isEmpty()) return QString();
    bool nameChar = false;
    for (QChar c : name)
        if (c != u'.' && !(c >= u'0' && c <= u'9')) nameChar = true;
    return nameChar ? IpFromHostName(name) : QString();
}

}  // namespace

frmSetup::frmSetup() : Form(QStringLiteral("frmSetup")) {}

// ---- Controls -------------------------------------------------------------------

void frmSetup::buildControls() {
    auto *outer = new QVBoxLayout(this);
    buildConnectionGroup(outer);
    // The address panel's place: the closed panel's height. The open panel
    // lies over the groups below, which keep their places.
    frame1Slot_ = new QWidget(this);
    frame1Slot_->setFixedHeight(FrameClosed / TwipsPerPixel);
    frame1Slot_->installEventFilter(this);
    outer->addWidget(frame1Slot_);

    buildInfoFrame(outer);
    buildInputFrame(outer);
    ExitButton = named(new QPushButton(QStringLiteral("E&xit"), this), QStringLiteral("ExitButton"));
    outer->addWidget(ExitButton);

    buildAddressPanel();
    wireAddressBoxes();
    buildServiceFields();
    wireChoices();
    // The input toggles show the configuration read with the link, and "*"
    // while the link is down.
    connect(&controllerLink(), &ControllerLink::changed, this, [this] {
        for (int i = 0; i < 4; ++i) showInput(i);
    });
    setCaption(QStringLiteral("Communication Setup"));
}

// The connection group: two columns of label and field.
void frmSetup::buildConnectionGroup(QVBoxLayout *outer) {
    auto label = [this](const QString &caption, const QString &name) {
        return named(new QLabel(caption, this), name);
    };

    auto *connection = named(new QGroupBox(QStringLiteral("Communication Settings"), this), QStringLiteral("ConnectionFrame"));
    auto *cg = new QGridLayout(connection);
    Combo1 = named(new QComboBox(connection), QStringLiteral("Combo1"));
    Combo2 = named(new QComboBox(connection), QStringLiteral("Combo2"));
    Text3 = named(new QLineEdit(connection), QStringLiteral("Text3"));
    chkSearch = named(new QCheckBox(QStringLiteral("Automatically Search for Baud Rate"), connection), QStringLiteral("chkSearch"));
    Text1 = named(new QLineEdit(QStringLiteral("32001"), connection), QStringLiteral("Text1"));
    Text2 = named(new QLineEdit(connection), QStringLiteral("Text2"));
    txtAdapter = named(new QLineEdit(connection), QStringLiteral("txtAdapter"));
    Text4 = named(new QLineEdit(connection), QStringLiteral("Text4"));
    const struct {
        const char *caption, *name;
        QWidget *field;
        int row, column;
    } fields[] = {{"Communication Port:", "lblCommPort", Combo1, 0, 0},  {"Baud Rate Selected:", "lblBaudRate", Combo2, 1, 0},
                  {"Controller IP Address:", "lblIPAddress", Text3, 2, 0}, {"Host Node:", "lblHostNode", Text1, 0, 2},
                  {"Target Node:", "lblTargetNode", Text2, 1, 2},         {"Network Adapter:", "lblAdapter", txtAdapter, 2, 2},
                  {"Timeout (ms):", "lblTimeout", Text4, 3, 2}};
    for (const auto &f : fields) {
        cg->addWidget(label(QString::fromLatin1(f.caption), QString::fromLatin1(f.name)), f.row, f.column);
        cg->addWidget(f.field, f.row, f.column + 1);
    }
    cg->addWidget(chkSearch, 3, 0, 1, 2);
    outer->addWidget(connection);
}

void frmSetup::buildInfoFrame(QVBoxLayout *outer) {
    InfoFrame = named(new QGroupBox(QStringLiteral("Controller Information"), this), QStringLiteral("InfoFrame"));
    auto *ig = new QGridLayout(InfoFrame);
    const char *infoCaptions[12] = {"Number of Flags:",       "Number of Inputs:",     "Number of Outputs:",
                                    "Number of Steppers:",    "Number of Servos:",     "Number of Analog Ins:",
                                    "Number of Analog Outs:", "Number of Prototype:",  "Number of HS Counters:",
                                    "Number of Thumbwheels:", "Number of Displays:",   "Controller Architecture:"};
    for (int i = 0; i < 12; ++i) {
        Label14[i] = named(new QLabel(QStringLiteral("N/A"), InfoFrame), QStringLiteral("Label14"), i);
        const int row = i % 6, col = (i / 6) * 2;
        ig->addWidget(named(new QLabel(QString::fromLatin1(infoCaptions[i]), InfoFrame), QStringLiteral("Label13"), i), row, col);
        ig->addWidget(Label14[i], row, col + 1);
    }
    outer->addWidget(InfoFrame);
}

void frmSetup::buildInputFrame(QVBoxLayout *outer) {
    InputFrame = named(new QGroupBox(QStringLiteral("Input Status"), this), QStringLiteral("InputFrame"));
    auto *sg = new QGridLayout(InputFrame);
    const char *inputCaptions[4] = {"START input status:", "STOP input status:", "RESET input status:",
                                    "STEP input status:"};
    for (int i = 0; i < 4; ++i) {
        Command3d1[i] = named(new SSCommand(QStringLiteral("Unknown"), InputFrame), QStringLiteral("Command3d1"), i);
        Label19[i] = named(new QLabel(InputFrame), QStringLiteral("Label19"), i);
        sg->addWidget(named(new QLabel(QString::fromLatin1(inputCaptions[i]), InputFrame), QStringLiteral("Label18"), i), i, 0);
        sg->addWidget(Command3d1[i], i, 1);
        sg->addWidget(Label19[i], i, 2);
        connect(Command3d1[i], &QPushButton::clicked, this, [this, i] { Command3d1_Click(i); });
    }
    outer->addWidget(InputFrame);
}

// The controller address panel, Frame1, over its place among the groups.
void frmSetup::buildAddressPanel() {
    Frame1 = named(new QGroupBox(ClosedCaption, this), QStringLiteral("Frame1"));
    Frame1->setAutoFillBackground(true);  // the open panel covers the groups below
    auto *fl = new QVBoxLayout(Frame1);
    frame1Body_ = new QWidget(Frame1);
    frame1Body_->setAttribute(Qt::WA_NoMousePropagation);  // a click inside is not the frame's
    fl->addWidget(frame1Body_);
    auto *ag = new QGridLayout(frame1Body_);
    ag->setContentsMargins(0, 0, 0, 0);
    ag->setVerticalSpacing(2);
    const char *rowCaptions[3] = {"IP Address:", "SubNet Mask:", "Gateway Address:"};
    for (int i = 0; i < 13; ++i) txtAddress[i] = named(new QLineEdit(frame1Body_), QStringLiteral("txtAddress"), i);
    for (int r = 0; r < 3; ++r) {
        ag->addWidget(new QLabel(QString::fromLatin1(rowCaptions[r]), frame1Body_), r, 0);
        for (int k = 0; k < 4; ++k) {
            ag->addWidget(txtAddress[r * 4 + k], r, 1 + 2 * k);
            if (k < 3) ag->addWidget(new QLabel(QStringLiteral("."), frame1Body_), r, 2 + 2 * k);
        }
    }
    ag->addWidget(new QLabel(QStringLiteral("Kelnet Node:"), frame1Body_), 3, 0);
    ag->addWidget(txtAddress[12], 3, 1);
    ag->addWidget(new QLabel(QStringLiteral("MAC ID:"), frame1Body_), 4, 0);
    lblMacID = named(new QLabel(frame1Body_), QStringLiteral("lblMacID"));
    ag->addWidget(lblMacID, 4, 1, 1, 7);
    cmdLoadIP = named(new QPushButton(QStringLiteral("Apply"), frame1Body_), QStringLiteral("cmdLoadIP"));
    ag->addWidget(cmdLoadIP, 5, 0, 1, 8);
    onClick(Frame1, [this] { Frame1_Click(); });
    connect(cmdLoadIP, &QPushButton::clicked, this, [this] { cmdLoadIP_Click(); });
}

void frmSetup::wireAddressBoxes() {
    for (int i = 0; i < 13; ++i) {
        QLineEdit *box = txtAddress[i];
        // Only the number stays in a box (nothing when it holds no 32-bit number).
        connect(box, &QLineEdit::textChanged, this, [box](const QString &text) {
            if (text.isEmpty()) return;
            const auto v = tryBoxNumber(text, BoxBits::Bits32);
            box->setText(v ? num(*v) : QString());
        });
        onClick(box, [box] { box->clear(); });
        onKeyPress(box, [this, i](int &k) {
            if (i < 12 && (k == '.' || k == ' ')) {
                txtAddress[i + 1]->setFocus(Qt::TabFocusReason);
                k = 0;
            } else if (i == 12 && k == ' ') {
                txtAddress[0]->setFocus(Qt::TabFocusReason);
                k = 0;
            }
        });
    }
}

// The hidden service fields through which other windows drive this one.
void frmSetup::buildServiceFields() {
    txtResolveIP = named(new QLineEdit(QStringLiteral("0"), this), QStringLiteral("txtResolveIP"));
    txtResolveIP->hide();
    txtLoadCommand = named(new QLineEdit(this), QStringLiteral("txtLoadCommand"));
    txtLoadCommand->hide();
    connect(txtResolveIP, &QLineEdit::textChanged, this, [this] { ResolveAddress(); });
    connect(txtLoadCommand, &QLineEdit::textChanged, this, [this] {
        loadProcedure();
        txtLoadCommand->clear();
    });
}

// The user's choices.
void frmSetup::wireChoices() {
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    connect(Combo2, &QComboBox::activated, this, [this] { Combo2_Click(); });
    connect(ExitButton, &QPushButton::clicked, this, [this] { ExitButton_Click(); });
    nodeField(Text1, [this] { hostNodeEnter(); });
    nodeField(Text2, [this] { commitTargetNode(); });
    nodeField(txtAdapter, [this] { adapterEnter(); });
    onLostFocus(Text1, [this] {
        const double n = fieldNumber(Text1->text());
        if (n < 1 || n > 32767) {
            HostNode = 32767;
            Text1->setText(QStringLiteral("32767"));
        } else {
            HostNode = int32_t(n);
        }
        EditStarted = false;
    });
    onLostFocus(Text2, [this] {
        commitTargetNode();
        EditStarted = false;
    });
    onLostFocus(Text4, [this] {
        if (const auto v = typedTimeout()) TimeoutMs = *v;
    });
    onLostFocus(Text3, [this] { txtResolveIP->setText(num(txtResolveIP->text().toLongLong() + 1)); });
}

bool frmSetup::eventFilter(QObject *watched, QEvent *event) {
    if (watched == frame1Slot_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) placeFrame1();
    return Form::eventFilter(watched, event);
}

void frmSetup::placeFrame1() {
    const QRect slot = frame1Slot_->geometry();
    Frame1->setGeometry(slot.x(), slot.y(), slot.width(), (frame1Height_ + TwipsPerPixel - 1) / TwipsPerPixel);
    frame1Body_->setVisible(frame1Height_ != FrameClosed);
    Frame1->raise();
}

// ---- Load -------------------------------------------------------------------------

void frmSetup::Form_Load() {
    // A new window starts with the address panel closed.
    Frame1->setTitle(ClosedCaption);
    frame1Height_ = FrameClosed;
    placeFrame1();
    loadProcedure();
}

// Runs when the window is created and on every change of txtLoadCommand.
void frmSetup::loadProcedure() {
    EditStarted = false;
    SetupSnapshot = {CommPort, BaudRate, ControllerIP, TargetNode, HostNode};
    chkSearch->setChecked(true);
    mainWindow().setPolling(false);

    {
        const QSignalBlocker block(Combo1);
        Combo1->clear();
        Combo1->addItems({QStringLiteral("OrvNET"), QStringLiteral("OrvUDP"), QStringLiteral("OrvTCP")});
        for (int n = 1; n <= 16; ++n) Combo1->addItem(QStringLiteral("COMM ") + num(n));
        Combo1->setCurrentIndex(CommPort >= 0 && CommPort < Combo1->count() ? CommPort : -1);
    }
    // Selecting an item is a click of the list; a kind the list does not
    // hold leaves it without a selection.
    if (Combo1->currentIndex() >= 0) Combo1_Click();

    {
        // The list shows the rate in use; loading the window changes no
        // setting (a rate the list does not hold leaves it without a choice).
        const QSignalBlocker block(Combo2);
        Combo2->clear();
        Combo2->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                          QStringLiteral("56800"), QStringLiteral("115200")});
        Combo2->setCurrentIndex(Combo2->findText(QString::number(BaudRate)));
    }

    Text3->setText(ControllerIPText);
    Text2->setText(num(TargetNode));
    Text1->setText(num(HostNode));
    txtAdapter->setText(num(AdapterIndex));
    enableByKind();
    Text4->setText(num(TimeoutMs));
    showControllerInfo();
}

void frmSetup::enableByKind() {
    const bool net = CommPort == 0, ip = CommPort == 1 || CommPort == 2;
    const bool serial = !net && !ip;
    Text1->setEnabled(net);
    Text2->setEnabled(net);
    txtAdapter->setEnabled(net);
    Text3->setEnabled(ip);
    Combo2->setEnabled(serial);
}

void frmSetup::showControllerInfo() {
    static const QString unknownState[4] = {QStringLiteral("Run State Unknown"), QStringLiteral("Run Mode Unknown"),
                                            QStringLiteral("Run Status Unknown"), QStringLiteral("Reset State Unknown")};
    auto unknownRunState = [this] {
        for (int i = 0; i < 4; ++i) Label19[i]->setText(unknownState[i]);
        showInputConfiguration(false);
    };
    if (ControllerModel == -1) {
        for (QLabel *l : Label14) l->setText(QStringLiteral("N/A"));
        unknownRunState();
        return;
    }
    const int16_t counts[7] = {NumFlags, NumDigitalInputs, NumDigitalOutputs, IoCount4,
                               NumServos, NumAnalogInputs, NumAnalogOutputs};
    for (int i = 0; i < 7; ++i) Label14[i]->setText(numberWithBlank(counts[i]));
    if ((EaType & 0xFFFF) == 0) {
        Label14[11]->setText(QStringLiteral("Non-EA"));
        for (int i = 7; i <= 10; ++i) Label14[i]->setText(QStringLiteral("N/A"));
        unknownRunState();
        return;
    }
    Label14[11]->setText(QStringLiteral("EA Type"));
    for (int i = 0; i < 4; ++i) Label14[7 + i]->setText(numberWithBlank(MiscIoCount[i]));
    static const char *const runState[4][2] = {{"Controller STOPPED", "Controller RUNNING"},
                                               {"Programming Mode", "Normal Mode"},
                                               {"Controller Software Fault", "Controller Status OK"},
                                               {"Controller fresh RESET", "Controller mid-program"}};
    for (int i = 0; i < 4; ++i)
        Label19[i]->setText(QString::fromLatin1(runState[i][(ControllerStatusBits >> i) & 1 ? 0 : 1]));
    showInputConfiguration(true);
}

void frmSetup::showInputConfiguration(bool known) {
    inputsKnown_ = known;
    for (int i = 0; i < 4; ++i) showInput(i);
    InputFrame->setEnabled(known);
    InputFrame->setVisible(known);
}

void frmSetup::showInput(int i) {
    // The configuration was read when the link was made: while the link is
    // down it may have changed, and the toggle shows "*".
    const QString state = (InputStatusBits >> i) & 1 ? QStringLiteral("Active") : QStringLiteral("Idle");
    Command3d1[i]->setCaption(!inputsKnown_ ? QStringLiteral("Unknown") : Connected ? state : QStringLiteral("*"));
}

// ---- The user's choices --------------------------------------------------------------

void frmSetup::Combo1_Click() {
    CommPort = Combo1->currentIndex();
    enableByKind();
    if (CommPort == 0 && fieldNumber(Text1->text()) == 0) {
        Text1->setText(QStringLiteral("32001"));
        HostNode = 32001;
    }
    CommError = true;
}

void frmSetup::Combo2_Click() { BaudRate = int32_t(leadingNumber(Combo2->currentText())); }

// The host node, target node and adapter fields: the first key of an entry
// empties the field; Enter is swallowed, commits and ends the entry.
void frmSetup::nodeField(QLineEdit *field, std::function<void()> enter) {
    onKeyPress(field, [this, field, enter = std::move(enter)](int &k) {
        if (!EditStarted) {
            field->clear();
            EditStarted = true;
        }
        if (k == 13) {
            k = 0;
            enter();
            EditStarted = false;
        }
    });
}

// Corrects a field into 1..limit and gives its number.
int32_t frmSetup::limitField(QLineEdit *field, int32_t limit) {
    const double n = fieldNumber(field->text());
    if (n < 1) field->setText(QStringLiteral("1"));
    else if (n > limit) field->setText(num(limit));
    return int32_t(fieldNumber(field->text()));
}

void frmSetup::hostNodeEnter() {
    const int32_t v = limitField(Text1, 32767);
    if (v != HostNode) HostNode = v;
}

void frmSetup::commitTargetNode() {
    const int32_t v = limitField(Text2, 32767);
    if (v != TargetNode) {
        TargetNode = v;
        ddeWindow().control<QLineEdit>(QStringLiteral("DDENode"))->setText(num(v));
    }
}

void frmSetup::adapterEnter() {
    const int32_t v = limitField(txtAdapter, 10);
    if (v != AdapterIndex) AdapterIndex = v;
}

// ---- Exit and closing ------------------------------------------------------------------

std::optional<int32_t> frmSetup::typedTimeout() {
    // A field as the window filled it holds the time-out in use.
    if (!Text4->isModified()) return TimeoutMs;
    const QString text = Text4->text().trimmed();
    bool numeric = false;
    const double v = std::nearbyint(text.toDouble(&numeric));
    if (numeric && v >= ShortestTypedTimeoutMs && v <= LongestTimeoutMs) return int32_t(v);
    // Only a time-out typed is taken, and only one the link can wait: the
    // setting stays, and the field shows it again.
    Text4->setText(num(TimeoutMs));
    MsgBox(QStringLiteral("Timeout (ms) takes whole numbers from %1 to %2, not \"%3\". The time-out stays %4 ms.")
               .arg(ShortestTypedTimeoutMs)
               .arg(LongestTimeoutMs)
               .arg(text)
               .arg(TimeoutMs),
           mbOKOnly + mbExclamation);
    return std::nullopt;
}

void frmSetup::ExitButton_Click() {
    // A time-out the field cannot take keeps the window open, with nothing
    // taken; a field that holds no whole number leaves its setting as it was.
    const auto timeout = typedTimeout();
    if (!timeout) return;
    TimeoutMs = *timeout;
    if (const auto v = wholeNumber(Text1->text())) HostNode = *v;
    if (const auto v = wholeNumber(txtAdapter->text())) AdapterIndex = *v;
    ControllerIPText = Text3->text();
    if (const auto v = wholeNumber(Text2->text())) TargetNode = *v;
    ReconnectPending = true;
    SetupOpen = false;
    mainWindow().setStatusText(QStringLiteral("Establishing Connection"));
    CommError = true;
    Unload();
}

void frmSetup::Form_Unload(int &) {
    MainWindow &main = mainWindow();
    SetupOpen = false;
    if (const auto v = wholeNumber(Text2->text())) TargetNode = *v;
    ReconnectPending = true;
    main.requestReconnect();

    AutoBaudSearch = chkSearch->isChecked();

    switch (CommPort) {
    case 0: ConnectionTitle = QStringLiteral(" - Node ") + num(TargetNode); break;
    case 1: ConnectionTitle = QStringLiteral(" - UDP ") + ControllerIP; break;
    case 2: ConnectionTitle = QStringLiteral(" - TCP/IP ") + ControllerIP; break;
    default:
        ConnectionTitle = QStringLiteral(" - COMM ") + num(int64_t(CommPort) - 2) + QStringLiteral(" Baud ") + num(BaudRate);
        break;
    }
    main.mainForm().setCaption(QStringLiteral("ORV Monitor V3.6") + ConnectionTitle);

    const Snapshot &s = SetupSnapshot;
    bool changed = CommPort != s.commPort;
    if (CommPort == 0) changed = changed || TargetNode != s.targetNode || HostNode != s.hostNode;
    else if (CommPort == 1 || CommPort == 2) changed = changed || ControllerIP != s.controllerIP;
    else changed = changed || BaudRate != s.baudRate;
    if (changed) controllerLink().markReconnecting();

    if (main.monitoringRunning()) {
        if (NoComm) {
            main.setStatusText(QStringLiteral("Reestablishing Connection"));
            main.RefreshMessage();
        }
        main.resetReconnectBackOff();
        main.setPollInterval(10);
        main.setPolling(true);
    }
}

// ---- Address resolution -------------------------------------------------------------------

bool frmSetup::IsIP(const QString &text) {
    if (text.startsWith(u'.') || text.endsWith(u'.')) return false;
    for (QChar c : text)
        if (c != u'.' && !(c >= u'0' && c <= u'9')) return false;
    const QStringList groups = text.split(u'.');
    if (groups.size() != 4) return false;
    for (const QString &g : groups) {
        if (g.isEmpty()) continue;
        bool ok = false;
        const qlonglong v = g.size() > 18 ? -1 : g.toLongLong(&ok);
        if (!ok || v < 0 || v > 255) return false;
    }
    return true;
}

void frmSetup::ResolveAddress() {
    ResolvingHost = true;
    ControllerIPText = Text3->text().trimmed();
    ControllerIP = ControllerIPText;
    if (!IsIP(ControllerIP)) {
        ControllerIP = lookUp(ControllerIP);
        ResolvingHost = false;
    }
    ControllerIP = usableAddress(ControllerIP);
}

// ---- The controller's network addresses ------------------------------------------------------

void frmSetup::reportFailure(const QString &text) {
    // The library's reason, with where the link goes, as the status line
    // gives a failed write.
    MsgBox(controllerLink().failedWrite(text, ConnectionHandle).text);
}

// The address field and ControllerIP from the IP address boxes, as numbers:
// an emptied box stands for the 0 that Apply writes for it.
void frmSetup::setAddressFromBoxes() {
    QStringList octets;
    for (int i = 0; i < 4; ++i) octets << num(tryBoxNumber(txtAddress[i]->text(), BoxBits::Bits32).value_or(0));
    const QString dotted = octets.join(u'.');
    Text3->setText(dotted);
    ControllerIP = usableAddress(dotted);
}

void frmSetup::Frame1_Click() {
    if (frame1Height_ == FrameClosed) {
        frame1Height_ = FrameOpen;
        placeFrame1();
        txtAddress[0]->setFocus(Qt::OtherFocusReason);
        Frame1->setTitle(OpenCaption);
        for (int i = 0; i < 12; ++i) txtAddress[i]->clear();
        GetAddresses();
    } else {
        Frame1->setTitle(ClosedCaption);
        frame1Height_ = FrameClosed;
        placeFrame1();
    }
}

void frmSetup::GetAddresses() {
    const QString failed = QStringLiteral("Failed to update register value!");
    // Nothing can be read: the box says why.
    if (!Connected) {
        MsgBox(failed + QStringLiteral("\nThe controller's network addresses were not read: ") + controllerLink().whyNot() +
               QLatin1Char('.'));
        return;
    }
    int32_t value = 0;
    int32_t last = 0;
    auto read = [&value, &last](int32_t reg) {
        last = reg;
        return libraryCall([&] { return OrvComm::ZqGetRegister(ConnectionHandle, reg, &value); });
    };
    // A read that failed says which register it read, and why.
    auto readFailure = [this, &failed, &last] {
        MsgBox(failed + QStringLiteral("\nRegister %1 could not be read: ").arg(last) +
               controllerLink().fetchFailure(ConnectionHandle));
    };

    if (read(20000) != 1) return readFailure();
    Text2->setText(num(value));
    txtAddress[12]->setText(num(value));

    for (int i = 0; i < 4; ++i) {
        if (read(20048 + i) != 1) {
            fetchError();
            if (errorText().left(16) == QStringLiteral("Illegal register"))
                MsgBox(QStringLiteral("Failed to get IP addresses! They don't exist in the controller"));
            else
                readFailure();
            return;
        }
        txtAddress[i]->setText(num(value));
    }
    for (int i = 4; i < 8; ++i) {
        if (read(20064 + (i - 4)) != 1) return fetchError();
        txtAddress[i]->setText(num(value));
    }
    for (int i = 8; i < 12; ++i) {
        if (read(20080 + (i - 8)) != 1) return readFailure();
        txtAddress[i]->setText(num(value));
    }
    // A UDP or TCP link keeps the address the user typed: the controller's
    // own registers may hold none (0.0.0.0) or one that takes effect only
    // after a power cycle.
    if (CommPort != 1 && CommPort != 2) {
        setAddressFromBoxes();
    }
    if (read(20005) != 1) return readFailure();
    const auto a = uint32_t(value);
    if (read(20006) != 1) return readFailure();
    const auto b = uint32_t(value);
    lblMacID->setText(QStringLiteral("00") + QString::number(a, 16).toUpper() +
                      QStringLiteral("%1").arg(b, 6, 16, QLatin1Char('0')).toUpper());
}

void frmSetup::cmdLoadIP_Click() {
    if (!Connected) {
        MsgBox(controllerLink().refusal(QStringLiteral("Can't load network addresses. Not connected to controller.")));
        return;
    }
    auto number = [this](int i) { return tryBoxNumber(txtAddress[i]->text(), BoxBits::Bits32).value_or(0); };
    auto write = [](int32_t reg, int32_t v) {
        return libraryCall([&] { return OrvComm::ZqPutRegister(ConnectionHandle, reg, v); });
    };

    const int32_t node = number(12);
    if (write(20000, node) != 1) return reportFailure(QStringLiteral("Failed to update register value!"));
    TargetNode = node;
    Text2->setText(num(node));

    static const int32_t firstRegister[3] = {20048, 20064, 20080};
    for (int i = 0; i < 12; ++i) {
        if (write(firstRegister[i / 4] + i % 4, number(i)) != 1)
            return reportFailure(QStringLiteral("Failed to update IP Addresses!"));
    }
    write(20096, 1);
    if (number(0) != 0) {
        setAddressFromBoxes();
    }
    MsgBox(QStringLiteral("Addresses loaded! Cycle power on your controller for these values to take effect."));
}

// ---- Input configuration -----------------------------------------------------------------------

void frmSetup::Command3d1_Click(int index) {
    static const int32_t others[4] = {14, 13, 11, 7};
    const QString failed = QStringLiteral("Failed to update configuration!");
    ControllerLink &link = controllerLink();
    // Without a link nothing is written, and the toggle stays as it is.
    if (const QString refused = link.refusal(failed); !refused.isEmpty()) return configStatus(refused);
    int32_t &bits = InputStatusBits;
    const int32_t before = bits;
    if ((bits >> index) & 1) {
        bits &= others[index];
        Command3d1[index]->setCaption(QStringLiteral("Idle"));
    } else {
        bits |= 1 << index;
        Command3d1[index]->setCaption(QStringLiteral("Active"));
    }
    const int32_t word = bits;
    if (libraryCall([word] { return OrvComm::ZqPutConfig(ConnectionHandle, word); }) == 1) return;
    // Not taken: the controller keeps the word it had, unless no answer
    // settled it; then the toggle shows "*" until the word is read again.
    const auto why = link.failedWrite(failed, ConnectionHandle);
    bits = before;
    showInput(index);
    if (why.outcomeUnknown) Command3d1[index]->setCaption(QStringLiteral("*"));
    configStatus(why.text);
}

void frmSetup::configStatus(const QString &text) {
    MainWindow &main = mainWindow();
    main.setStatusText(text);
    main.RefreshMessage();
}
