// The texts of the controller software faults on the step status window.
#include "windows/frmStatus.h"

namespace {

// How a fault's data number enters its text.
enum class FaultNumber {
    None,    // not at all
    Spaced,  // decimal, a leading space when not negative
    Servo,   // as Spaced, counted from 1 (the controller counts servos from 0)
    Bare,    // decimal, no leading space
};

struct FaultRow {
    const char *head;
    FaultNumber number;
    const char *tail;
};

// Codes 1 to 39; code 27 is worded by its data number and kept apart.
constexpr FaultRow FaultTable[40] = {
    {" - Unknown Error", FaultNumber::None, ""},
    {" - Illegal Function", FaultNumber::None, ""},
    {" - Corrupt Program Data", FaultNumber::None, ""},
    {" - Destination Step is Empty", FaultNumber::None, ""},
    {" - Bad Thumbwheel Data", FaultNumber::None, ""},
    {" - Step#1 is Empty", FaultNumber::None, ""},
    {" - Too Many Tasks", FaultNumber::None, ""},
    {" - No Such Stepper Motor", FaultNumber::None, ""},
    {" - Motor Not Ready", FaultNumber::None, ""},
    {" - Motor Unprofiled", FaultNumber::None, ""},
    {" - Servo#", FaultNumber::Servo, " does NOT exist"},
    {" - Servo#", FaultNumber::Servo, " Is Not Ready"},
    {" - Servo#", FaultNumber::Servo, " Error"},
    {" - Register#", FaultNumber::Spaced, " does NOT exist"},
    {" - Data Table Column#", FaultNumber::Spaced, " does NOT exist"},
    {" - Data Table Row#", FaultNumber::Spaced, " does NOT exist"},
    {" - No Such Proto Board", FaultNumber::None, ""},
    {" - Illegal Sample Time", FaultNumber::None, ""},
    {" - Analog Input#", FaultNumber::Bare, " does NOT exist"},
    {" - Analog Output#", FaultNumber::Bare, " does NOT exist"},
    {" - Display#", FaultNumber::Bare, " does NOT exist"},
    {" - Digital Input#", FaultNumber::Bare, " does NOT exist"},
    {" - Digital Output#", FaultNumber::Bare, " does NOT exist"},
    {" - Thumbwheel#", FaultNumber::Bare, " does NOT exist"},
    {" - Illegal Data Table Value", FaultNumber::None, ""},
    {" - Message Transmitting Busy", FaultNumber::None, ""},
    {" - Divide-By-Zero Error", FaultNumber::None, ""},
    {" - Data Out Of Range", FaultNumber::None, ""},
    {" - Watch dog / Hardware Fault", FaultNumber::None, ""},
    {" - Error Network Fault", FaultNumber::None, ""},
    {" - Network Access Timeout", FaultNumber::None, ""},
    {" - Network Access Busy", FaultNumber::None, ""},
    {" - Network Request Lost", FaultNumber::None, ""},
    {" - Network Bad Response", FaultNumber::None, ""},
    {" - Network Bad Return Message", FaultNumber::None, ""},
    {" - Comm Port#", FaultNumber::Bare, " Does Not Exist"},
    {" - Comm Protocol Error", FaultNumber::None, ""},
    {" - Flag#", FaultNumber::Bare, " Does Not Exist"},
    {" - Out of Delay Timers", FaultNumber::None, ""},
    {" - Out of Soft Counters", FaultNumber::None, ""},
};

// A number with the leading space that marks it as not negative.
QString spaced(int64_t x) { return (x >= 0 ? QStringLiteral(" ") : QString()) + QString::number(x); }

QString faultText(int32_t code, int32_t data) {
    if (code == 27 && data > 0) return QStringLiteral(" - Caused by Register#") + QString::number(data);
    const FaultRow &row = FaultTable[code >= 1 && code <= 39 ? code : 0];
    QString number;
    switch (row.number) {
    case FaultNumber::None: break;
    case FaultNumber::Spaced: number = spaced(data); break;
    // In 64 bits: the largest data number still gives a servo number.
    case FaultNumber::Servo: number = spaced(int64_t(data) + 1); break;
    case FaultNumber::Bare: number = QString::number(data); break;
    }
    return QLatin1String(row.head) + number + QLatin1String(row.tail);
}

}  // namespace

void ShowFault(const int32_t &code, const int32_t &data) {
    QLabel *label = form<frmStatus>().Label1;
    label->setText(label->text() + faultText(code, data) + QStringLiteral("      - (fault code #") +
                   QString::number(code) + QStringLiteral(")"));
}
