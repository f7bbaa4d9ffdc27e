// The polling loop: the tick of the main window's Timer1 and the refresh of
// every open monitor window.
//
// Each tick reconnects while the link is marked lost, reads register 1 as a
// heartbeat and then reads what every open window shows, writing the values
// straight into the window's controls. A failed read goes through the link
// check of the link's owner: the controller's own refusal (a register or
// value it does not take) is a data error; anything else marks the link lost
// at the end of the tick, after the remaining windows have still been served.
//
// A tick that has lost the link (a failure other than 216) sends nothing
// more: every later read of the tick fails at once, so the windows show
// their failure texts without each row waiting out its own time-out. The
// next attempt to reconnect then waits on the back-off of the connection
// manager, so that a controller that is gone never holds the window for
// more than one exchange at a time.
//
// The tick lets pending window events through at fixed points only (every
// fourth row of a page, every fourth servo). Anything may happen there: a
// window closes, a transfer starts, the user suspends monitoring. So after
// each yield the tick ends at once when the connection is gone, and each row
// tests the busy flags again. The tick reaches the windows without loading
// them: a window closed during a yield is not brought back.
#include <QCoreApplication>
#include <QDateTime>
#include <cmath>
#include <cstdio>
#include <optional>

#include "core/basics.h"
#include "core/codeDBase.h"
#include "core/dde.h"
#include "core/eventpump.h"
#include "core/frmRTC.h"
#include "core/globals.h"
#include "core/runtime_error.h"
#include "core/shownvalue.h"
#include "main/frmDDE.h"
#include "main/frmMain.h"
#include "main/polling.h"
#include "main/taskstatus.h"
#include "windows/frames.h"

namespace {

bool busy() { return controllerLink().busy() || NoComm; }

QString decimal(int32_t v) { return QString::number(v); }
QString hexadecimal(int32_t v) { return QString::number(static_cast<uint32_t>(v), 16).toUpper(); }

// A double as the program shows it: up to 15 significant digits, the
// exponent form only for very large or small values.
QString realText(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    return QString::fromLatin1(buf);
}

// The window when its controls exist; the tick never loads a window.
template <class T> T *served() {
    T *f = FormRegistry::existing<T>();
    return f && f->loaded() ? f : nullptr;
}

// A yield inside a row loop, then the test that ends the tick.
void yieldInLoop() {
    DoEvents();
    if (ConnectionHandle == 0) throw TickEnded{};
}

// Brings a window on the screen up to date at once: what changed since it
// was last drawn is drawn now. (Drawing the whole window again would show
// the same and cost a frame's worth of painting four times a tick.)
void repaintNow(QWidget *w) { QCoreApplication::sendPostedEvents(w->window(), QEvent::UpdateRequest); }

bool bitSet(int32_t value, int bit) { return ((static_cast<uint32_t>(value) >> bit) & 1u) != 0; }

}  // namespace

bool frmMain::readFailed() {
    // ErrorInfo keeps the failure that lost the link.
    if (tickLostLink_) return false;
    if (!controllerLink().failureLosesLink(ConnectionHandle)) return true;
    CommError = true;
    tickLostLink_ = true;
    return false;
}

bool frmMain::readRegister(int32_t reg, int32_t &value) {
    if (mayRead() && OrvComm::ZqGetRegister(ConnectionHandle, reg, &value) == 1) return true;
    readFailed();
    return false;
}

void frmMain::pollingError(int number, const QString &description) {
    const bool suspended = MonitoringSuspended;
    controllerLink().markLost(description);
    if (!suspended || number > 0) Message->setText(QStringLiteral("Error in polling routine!") + QChar(13) + description);
}

void frmMain::Timer1_Timer() {
    tickLostLink_ = false;
    // A transfer holds the connection: the tick neither reads nor reconnects.
    if (controllerLink().busy()) return;
    try {
        // The V-register record of the non-volatile window starts every tick
        // as a double of header 6.
        VRegRecord = OrvComm::ZQ_VREGISTER{};
        VRegRecord.type = 16;
        VRegRecord.headerA = 6;

        if (NoComm) {
            // An attempt still under way goes on by itself.
            if (!attemptPending()) CheckComm();
            if (NoComm) {
                DoEvents();
                return;
            }
        }
        try {
            if (ConnectionHandle == 0) throw TickEnded{};
            CommError = false;
            tickLostLink_ = false;
            int32_t heartbeat = 0;
            readRegister(1, heartbeat);

            if (DdeServing && !busy()) serveDdeItems();

            if (FlagWindowOpen && !busy()) refreshFlags();
            if (DigInWindowOpen && !busy()) refreshDigitalInputs();
            if (DigOutWindowOpen && !busy()) refreshDigitalOutputs();
            if (AnalInWindowOpen && !busy()) refreshAnalogInputs();
            if (AnalOutWindowOpen && !busy()) refreshAnalogOutputs();
            if (RegWindowOpen && !busy()) refreshRegisters();
            if (RegbitsWindowOpen && !busy()) refreshRegisterBits();
            if (RamWindowOpen && !busy()) refreshNonVolatile();
            if (ServoWindowOpen && !busy()) refreshServos();
            if (Custom1WindowOpen && !busy())
                if (auto *w = served<frmCustom1>()) refreshCustom(*w, Custom1Rows, Custom1EditInProgress, Custom1EditIndex);
            if (Custom2WindowOpen && !busy())
                if (auto *w = served<frmCustom2>()) refreshCustom(*w, Custom2Rows, Custom2EditInProgress, Custom2EditIndex);

            // A controller stopped on fault 2 (its program data is corrupt)
            // shows that fault and nothing more this tick; the link is still
            // checked below.
            const bool corruptProgram = StatusPollOn && !busy() && mayRead() && PollTaskStatus();

            if (!corruptProgram && RtcWindowOpen && !busy()) refreshClock();
        } catch (const TickEnded &) {
        }
        if (tickLostLink_) {
            // The owner tells the windows: every value shows "*", and the
            // status line says why until the next attempt.
            ControllerLink &link = controllerLink();
            link.markLost(link.lastFailure());
            scheduleReconnect();
        } else if (CommError) {
            controllerLink().markReconnecting();
        }
    } catch (const RuntimeError &e) {
        pollingError(e.number(), e.description());
        scheduleReconnect();
    } catch (const std::exception &e) {
        pollingError(1, describeException(e));
        scheduleReconnect();
    }
}

// ---- Values that are no longer current ---------------------------------------------------

namespace {
const QString Star = QStringLiteral("*");

// A box the tick fills: "*" unless it shows that its resource is not
// there. A box being typed into keeps the typing; "*" becomes the value it
// shows again when the entry ends without a write.
void starBox(QLineEdit *box) {
    if (box->text() != QStringLiteral("N/A") || ShownValue::kept(box)) ShownValue::show(box, Star);
}

template <size_t N> void starBoxes(const std::array<QLineEdit *, N> &boxes) {
    for (QLineEdit *box : boxes) starBox(box);
}
}  // namespace

void frmMain::markValuesStale() {
    // A "*" is never drawn in the colour of the value it replaces (the
    // windows' own showUnknown).
    if (auto *f = served<frmFlag>())
        for (int r = 0; r < 16; ++r)
            if (f->SSCommand1[size_t(r)]->Caption() == QStringLiteral("Set") ||
                f->SSCommand1[size_t(r)]->Caption() == QStringLiteral("Clear"))
                f->showUnknown(r);
    // A digital point's name tells its state too.
    for (DigitalWindow *f : {static_cast<DigitalWindow *>(served<frmDigIn>()), static_cast<DigitalWindow *>(served<frmDigOut>())})
        if (f)
            for (int r = 0; r < 16; ++r) f->showUnknown(r);
    if (auto *f = served<frmAnalIn>()) starBoxes(f->Text1);
    if (auto *f = served<frmAnalOut>()) starBoxes(f->Text1);
    if (auto *f = served<frmReg>()) starBoxes(f->Text1);
    if (auto *f = served<frmRam>()) starBoxes(f->Text1);
    if (auto *f = served<frmRegbits>()) starBoxes(f->Text1);
    for (ServoWindow *f : {static_cast<ServoWindow *>(served<frmServo>()), static_cast<ServoWindow *>(served<frmServo2>())}) {
        if (!f) continue;
        starBoxes(f->Text1);
        starBoxes(f->Text2);
    }
    for (CustomWindow *f : {static_cast<CustomWindow *>(served<frmCustom1>()), static_cast<CustomWindow *>(served<frmCustom2>())})
        if (f)
            for (int r = 0; r < 16; ++r) f->showUnknown(r);
    if (auto *f = served<frmRTC>())
        for (QLineEdit *b : {f->txtSec, f->txtMin, f->txtHr, f->txtDay, f->txtMo, f->txtYr, f->txtDow}) starBox(b);
    if (auto *f = served<frmStatus>()) f->Label1->setText(Star);
    if (auto *f = served<frmDDE>()) {
        for (int i = 1; i <= 32; ++i) f->FlagValue[size_t(i)]->setText(Star);
        ShownValue::show(f->RegRead, Star);
        for (int i = 1; i <= 50; ++i) f->RegValue[size_t(i)]->setText(Star);
        for (int i = 1; i <= 16; ++i) f->BlockRead[size_t(i)]->setText(Star);
        DdeServer::instance().itemsStale();
    }
}

// ---- The DDE items ----------------------------------------------------------------------------

namespace {
int32_t whole(double v) {
    const auto w = roundToWhole(v, BoxBits::Bits32);
    if (!w) throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
    return *w;
}
}  // namespace

// An address that no request can carry leaves its item alone (the window
// refuses such addresses; one may still come from the settings).
void frmMain::serveDdeItems() {
    frmDDE *f = served<frmDDE>();
    if (!f) return;
    const uint64_t pass = DdeServer::instance().refreshBegins();
    if (const auto address = f->itemAddress(f->FlagAddress)) {
        int32_t reg = 13005, first = 1;
        if (NumFlags > 32) {
            const int32_t base = whole(*address - 1) / 32;
            reg = 13021 + base;
            first = base * 32 + 1;
        }
        for (int g = 0; g < 4; ++g)
            f->Label1[size_t(2 + g)]->setText(QStringLiteral("Flag ") + decimal(first + 8 * g) + QStringLiteral(":"));
        int32_t value = 0;
        if (readRegister(reg, value))
            for (int i = 1; i <= 32; ++i)
                f->FlagValue[size_t(i)]->setText(bitSet(value, i - 1) ? QStringLiteral("1") : QStringLiteral("0"));
    }
    if (const auto address = f->itemAddress(f->RegAddress)) {
        int32_t value = 0;
        if (readRegister(whole(*address), value)) ShownValue::show(f->RegRead, decimal(value));
    }
    if (const auto block = f->itemAddress(f->Reg50Address)) {
        if (mayRead() && OrvComm::ZqGetRegister50(ConnectionHandle, whole(*block), Block50Buffer.data()) == 1) {
            for (int i = 1; i <= 50; ++i) f->RegValue[size_t(i)]->setText(decimal(Block50Buffer[size_t(i - 1)]));
        } else {
            readFailed();
        }
    }
    for (int i = 1; i <= 16; ++i) {
        if (i % 4 == 0) yieldInLoop();
        const auto address = f->itemAddress(f->BlockAddress[size_t(i)]);
        if (!address || busy()) continue;
        int32_t value = 0;
        if (readRegister(whole(*address), value)) f->BlockRead[size_t(i)]->setText(decimal(value));
    }
    // Clients waiting for current values get them now.
    if (!CommError) DdeServer::instance().itemsRefreshed(pass);
}

// ---- The windows, in the order the tick serves them ---------------------------------

void frmMain::refreshFlags() {
    frmFlag *f = served<frmFlag>();
    if (!f) return;
    const int32_t first = f->VScroll1->value();
    int32_t reg = 13005, offset = first - 1;
    if (NumFlags > 32) {
        reg = 13021 + (first - 1) / 32;
        offset = (first - 1) % 32;
    }
    int32_t value = 0;
    // A flag that could not be read shows "*", never the state of before.
    bool read = readRegister(reg, value);
    bool crossed = false;
    for (int r = 1; r <= 16; ++r) {
        const int b = r + offset;  // 1..32
        const bool set = bitSet(value, b - 1);
        SSCommand *button = f->SSCommand1[size_t(r - 1)];
        // A button that shows "*" (no current value) takes either state.
        const bool stale = button->Caption() == QStringLiteral("*");
        if (!read) f->showUnknown(r - 1);
        else if ((button->Caption() == QStringLiteral("Clear") || stale) && set) f->showState(r - 1, true);
        else if ((button->Caption() == QStringLiteral("Set") || stale) && !set) f->showState(r - 1, false);
        // The page runs on into the next flag register.
        if (b == 32 && r < 16 && !crossed) {
            crossed = true;
            offset = -r;
            int32_t next = 0;
            read = read && readRegister(reg + 1, next);
            value = next;
        }
    }
}

void frmMain::refreshDigitalInputs() {
    frmDigIn *f = served<frmDigIn>();
    if (!f) return;
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) yieldInLoop();
        if (busy()) continue;
        const int32_t n = f->VScroll1->value() + r - 1;
        int32_t state = 0;
        if (readRegister(2000 + n, state)) f->showState(r - 1, n, state);
        else f->showUnknown(r - 1);
    }
}

void frmMain::refreshDigitalOutputs() {
    frmDigOut *f = served<frmDigOut>();
    if (!f) return;
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) yieldInLoop();
        if (busy()) continue;
        const int32_t n = f->VScroll1->value() + r - 1;
        int32_t state = 0;
        if (readRegister(1000 + n, state)) f->showState(r - 1, n, state);
        else f->showUnknown(r - 1);
    }
}

void frmMain::refreshAnalog(std::array<QLineEdit *, 16> &boxes, QScrollBar *scroll, int32_t base, bool outputs) {
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) yieldInLoop();
        QLineEdit *box = boxes[size_t(r - 1)];
        if (busy()) {
            box->setText(QStringLiteral("N/A"));
            continue;
        }
        if (outputs && AnalOutEditInProgress && AnalOutEditIndex == r - 1) continue;
        const int32_t n = scroll->value() + r - 1;
        int32_t value = 0;
        if (mayRead() && OrvComm::ZqGetRegister(ConnectionHandle, base + n, &value) == 1) box->setText(decimal(value));
        else box->setText(readFailed() ? QStringLiteral("N/A") : QStringLiteral("*"));
    }
}

void frmMain::refreshAnalogInputs() {
    if (frmAnalIn *f = served<frmAnalIn>()) refreshAnalog(f->Text1, f->VScroll1, 8500, false);
}

void frmMain::refreshAnalogOutputs() {
    if (frmAnalOut *f = served<frmAnalOut>()) refreshAnalog(f->Text1, f->VScroll1, 8000, true);
}

void frmMain::refreshRegisters() {
    frmReg *f = served<frmReg>();
    if (!f) return;
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) {
            yieldInLoop();
            repaintNow(f);
            yieldInLoop();
        }
        if (RegEditInProgress && RegEditIndex == r - 1) continue;
        if (busy()) continue;
        const int32_t n = f->VScroll1->value() + r - 1;
        int32_t value = 0;
        QLineEdit *box = f->Text1[size_t(r - 1)];
        if (readRegister(n, value)) box->setText(f->HexView ? hexadecimal(value) : decimal(value));
        else box->setText(QStringLiteral("*"));
    }
}

void frmMain::refreshRegisterBits() {
    frmRegbits *f = served<frmRegbits>();
    if (!f) return;
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) {
            DoEvents();
            yieldInLoop();
        }
        if (RegbitsWritePending) {
            const auto value = roundToWhole(RegbitsValues[size_t(std::clamp<int>(RegbitsRow, 1, 16) - 1)], BoxBits::Bits32);
            if (!value) throw RuntimeError(RuntimeErrors::Overflow, QStringLiteral("Overflow"));
            // With the link lost this tick the write is not tried: it fails
            // with the reason the link was lost, and is not made later.
            const QString failed = QStringLiteral("Failed to update register value!");
            ControllerLink &link = controllerLink();
            WriteOutcome outcome = WriteOutcome::Refused;
            if (mayRead() && OrvComm::ZqPutRegister(ConnectionHandle, RegbitsWriteRegister, *value) == 1) {
                Message->setText(QStringLiteral("Register #") + decimal(RegbitsWriteRegister) + QStringLiteral(" updated."));
                outcome = WriteOutcome::Taken;
            } else if (mayRead()) {
                // The reason as the connection messages give it.
                const auto why = link.failedWrite(failed, ConnectionHandle);
                Message->setText(why.text);
                if (why.outcomeUnknown) outcome = WriteOutcome::Unknown;
            } else {
                Message->setText(failed + QChar(10) + link.lastFailure());
            }
            RefreshMessage();
            RegbitsEditInProgress = false;
            RegbitsWritePending = false;
            f->clickWriteEnded(outcome);
        }
        if (RegbitsEditInProgress && RegbitsEditIndex == r - 1) continue;
        if (busy()) continue;
        const int32_t n = f->VScroll1->value() + r - 1;
        int32_t value = 0;
        // A register that could not be read shows "*", never the value of before.
        f->Text1[size_t(r - 1)]->setText(readRegister(RegbitsBase + n, value) ? decimal(value) : QStringLiteral("*"));
    }
}

void frmMain::refreshNonVolatile() {
    frmRam *f = served<frmRam>();
    if (!f) return;
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) {
            DoEvents();
            repaintNow(f);
            yieldInLoop();
        }
        if (RamEditInProgress && RamEditIndex == r - 1) continue;
        if (busy()) continue;
        const int32_t reg = 32000 + f->VScroll1->value() + r - 1;
        QLineEdit *box = f->Text1[size_t(r - 1)];
        if (ControllerModel != 5 || reg < 36001) {
            int32_t value = 0;
            if (readRegister(reg, value)) box->setText(f->HexView ? hexadecimal(value) : decimal(value));
            else box->setText(QStringLiteral("*"));
        } else {
            VRegRecord.number = reg;
            if (mayRead() && OrvComm::ZqGetVRegister(ConnectionHandle, &VRegRecord) == 1) {
                box->setText(realText(VRegRecord.doubleValue));
            } else {
                box->setText(QStringLiteral("*"));
                readFailed();
            }
        }
    }
}

void frmMain::refreshServos() {
    for (int a = 1; a <= 32; ++a) {
        if (a % 4 == 0) yieldInLoop();
        if ((ServoEditInProgress && ServoEditIndex == a - 1) || busy()) continue;
        if (a > NumServos) continue;
        ServoWindow *f = a <= 16 ? static_cast<ServoWindow *>(served<frmServo>())
                                 : static_cast<ServoWindow *>(served<frmServo2>());
        if (!f) continue;
        const size_t row = size_t(a <= 16 ? a - 1 : a - 17);
        int32_t value = 0;
        f->Text1[row]->setText(readRegister(14000 + a, value) ? decimal(value) : QStringLiteral("*"));
        f->Text2[row]->setText(readRegister(14100 + a, value) ? decimal(value) : QStringLiteral("*"));
    }
}

void frmMain::refreshCustom(CustomWindow &f, const std::array<CustomResourceRow, 16> &rows, const bool &editing,
                            const int16_t &editIndex) {
    for (int r = 1; r <= 16; ++r) {
        if (r % 4 == 0) yieldInLoop();
        if ((editing && editIndex == r - 1) || busy()) continue;
        const CustomResourceRow &row = rows[size_t(r - 1)];
        const int32_t m = row.number;
        int32_t reg = 0;
        switch (row.kind) {
        // Flags past 32 lie in the flag registers that follow 13021.
        case 1: reg = m > 32 ? 13021 + (m - 1) / 32 : 13005; break;
        case 2: reg = 2000 + m; break;
        case 3: reg = 1000 + m; break;
        case 4: reg = 8500 + m; break;
        case 5: reg = 8000 + m; break;
        case 6: reg = m; break;
        case 7: reg = 14000 + m; break;
        case 8: reg = 14100 + m; break;
        case 9:
        case 10:
        case 11:
        case 12: reg = 14700 + m; break;
        default: continue;
        }
        QLineEdit *box = f.Text2[size_t(r - 1)];
        int32_t value = 0;
        if (!readRegister(reg, value)) {
            f.showUnknown(r - 1);
            continue;
        }
        const auto active = [&](int32_t mask) {
            return (value & mask) != 0 ? QStringLiteral("Active") : QStringLiteral("InActive");
        };
        switch (row.kind) {
        case 1: box->setText(bitSet(value, (m - 1) % 32) ? QStringLiteral("Set") : QStringLiteral("Clear")); break;
        case 9: box->setText(active(0x02)); break;
        case 10: box->setText(active(0x04)); break;
        case 11: box->setText(active(0x10)); break;
        case 12: box->setText(active(0x20)); break;
        default: box->setText(decimal(value)); break;
        }
        if (row.kind == 2 || row.kind == 3) {
            OutputDisplay = row.kind == 2 ? InputSymbolName(m, value) : OutputSymbolName(m, value);
            f.Label1[size_t(r - 1)]->setText(OutputDisplay.name);
        }
    }
}

void frmMain::refreshClock() {
    frmRTC *f = served<frmRTC>();
    if (!f) return;
    QLineEdit *boxes[] = {f->txtSec, f->txtMin, f->txtHr, f->txtDay, f->txtMo, f->txtYr, f->txtDow};
    for (int i = 0; i < 7; ++i) {
        int32_t value = 0;
        boxes[i]->setText(readRegister(13014 + i, value) ? decimal(value) : QStringLiteral("*"));
    }
    // A clock setting waits for a tick that still has the link.
    if (RtcSyncRequest && mayRead()) {
        RtcSyncRequest = false;
        const QDateTime now = QDateTime::currentDateTime();
        const auto put = [](int32_t reg, int32_t value) {
            if (OrvComm::ZqPutRegister(ConnectionHandle, reg, value) != 1)
                OrvComm::ZqGetErrorInfo(ConnectionHandle, &ErrorInfo);
        };
        if (ControllerModel == 5) put(13013, 1);
        put(13014, now.time().second());
        put(13015, now.time().minute());
        put(13016, now.time().hour());
        put(13017, now.date().day());
        put(13018, now.date().month());
        put(13019, now.date().year() % 100);
        // Monday 1 to Sunday 7.
        put(13020, now.date().dayOfWeek());
        if (ControllerModel == 5) put(13013, 0);
    }
    f->lblSysClock->setText(QDateTime::currentDateTime().toString(QStringLiteral("MM-dd-yyyy hh:mm:ss")));
}
