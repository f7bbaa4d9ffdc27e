#include "steptext.h"

#include <bit>
#include <cstdarg>
#include <vector>

#include "objectfile.h"

namespace orv {

// ---- Instruction ------------------------------------------------------------------

std::uint8_t Instruction::at(std::size_t i) {
    if (i >= bytes_.size()) {
        incomplete_ = true;
        return 0;
    }
    return bytes_[i];
}

namespace {
// Appends the decimal digits of v.
void appendDecimal(std::string &out, unsigned long v, bool negative) {
    char digits[24];
    char *end = digits + sizeof digits, *p = end;
    do *--p = static_cast<char>('0' + v % 10);
    while ((v /= 10) != 0);
    if (negative) *--p = '-';
    out.append(p, end);
}
}  // namespace

// The listing's texts use only plain conversions (%u, %d, %i, %li, %s, %c);
// they are formatted here, without the cost of the C library's printf. A
// format with anything else (a width, a precision) goes to vsnprintf.
void Instruction::putf(const char *format, ...) {
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    const std::size_t start = text_.size();
    bool plain = true;
    for (const char *f = format; plain && *f; ++f) {
        if (*f != '%') {
            const char *run = f;
            while (f[1] && f[1] != '%') ++f;
            text_.append(run, f + 1);
            continue;
        }
        const bool isLong = f[1] == 'l';
        switch (f[isLong ? 2 : 1]) {
        case '%': text_ += '%'; break;
        case 'u': {
            const unsigned long v = isLong ? va_arg(ap, unsigned long) : va_arg(ap, unsigned);
            appendDecimal(text_, v, false);
            break;
        }
        case 'd':
        case 'i': {
            const long v = isLong ? va_arg(ap, long) : va_arg(ap, int);
            appendDecimal(text_, v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v), v < 0);
            break;
        }
        case 's': {
            const char *text = va_arg(ap, const char *);
            text_ += text ? text : "(null)";
            break;
        }
        case 'c':
            if (isLong) plain = false;
            else text_ += static_cast<char>(va_arg(ap, int));
            break;
        default: plain = false; break;
        }
        f += isLong ? 2 : 1;
    }
    va_end(ap);
    if (!plain) {
        text_.resize(start);
        char buffer[128];
        const int n = std::vsnprintf(buffer, sizeof buffer, format, again);
        if (n > 0) text_.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
    }
    va_end(again);
}

std::size_t Instruction::targetBytes() { return (at(0) & 0x20) ? stepNumberBytes() : 0; }

void Instruction::putGoto(std::size_t targetAt) {
    if (at(0) & 0x20)
        putf("step%u\n", stepNumber(targetAt) + 1);
    else
        put("next\n");
}

std::size_t Instruction::putRegisterOrCounter(std::size_t i) {
    const unsigned b = at(i);
    putf("%s#%u", b <= 0x07 ? "ctr" : "reg", (b & 0x7F) + 1);
    return 1;
}

std::size_t Instruction::putPrototypeItem(std::size_t i) {
    const unsigned board = at(i + 1), item = at(i + 2);
    putf("proto#%u:", (board & 0x07) + 1);
    const unsigned index = item & 0x1F;
    switch (item >> 6) {
    case 0:
        if (index < 2) putf("word#%u", index + 1);
        break;
    case 1:
        if (index < 4) putf("byte#%u", index + 1);
        break;
    case 2:
        putf("bit#%u", index + 1);  // five bits: always below 32
        break;
    default:
        break;
    }
    if (board & 0x80) put(":bcd");
    return 3;
}

std::size_t Instruction::putRegister16(std::size_t i) {
    // The number as stored, not plus 1.
    const unsigned v = u16(i + 1);
    if (v >= 1 && v <= 8) {
        putf("ctr#%u", v);
        return 3;
    }
    if (v >= 9 && v <= 60000) {
        putf("reg#%u", v);
        return 3;
    }
    return 0;
}

std::size_t Instruction::putOperand(std::size_t i, bool source) {
    const unsigned b = at(i);
    if (b <= 0x7F) return putRegisterOrCounter(i);
    if (b <= 0xBF) {
        putf(source ? "ain#%u" : "aout#%u", (b & 0x3F) + 1);
        return 1;
    }
    if (b <= 0xDF) {
        putf("col#%u", (b & 0x1F) + 1);
        return 1;
    }
    if (b <= 0xEF) {
        putf(source ? "twhl#%u" : "disp#%u", (b & 0x0F) + 1);
        return 1;
    }
    if (b == 0xF8) return putPrototypeItem(i);
    if (b == 0xFB) return putRegister16(i);
    if (!source) return 0;
    // Constants and servo values are sources only.
    switch (b) {
    case 0xF0:
        putf("%u", static_cast<unsigned>(u16(i + 1)));
        return 3;
    case 0xF9: {
        const std::uint32_t v = u16(i + 1) | (static_cast<std::uint32_t>(u16(i + 3)) << 16);
        putf("%li", static_cast<long>(static_cast<std::int32_t>(v)));
        return 5;
    }
    case 0xFA: {
        const unsigned servo = at(i + 1);
        if (servo > 31) return 0;
        putf("servo#%u", servo + 1);
        put(at(i + 2) == 0 ? ":position" : ":error");
        return 3;
    }
    default:
        return 0;
    }
}

std::size_t Instruction::putInput(std::size_t i) {
    unsigned number = 0;
    bool state = false;
    if (ea_) {
        const unsigned high = at(i + 1);
        number = at(i) | ((high & 0x03) << 8);
        state = high & 0x80;
    } else {
        const unsigned b = at(i);
        number = b & 0x7F;
        state = b & 0x80;
    }
    putf("in#%u%c", number + 1, state ? 'A' : 'B');
    return ea_ ? 2 : 1;
}

std::size_t PrintSourceOperand(std::string &out, std::span<const std::uint8_t> operand) {
    Instruction in(operand, false, false, out);
    const std::size_t n = in.putSource(0);
    if (!in.incomplete()) return n;
    in.clearText();
    return 0;
}

std::size_t PrintDestinationOperand(std::string &out, std::span<const std::uint8_t> operand) {
    Instruction in(operand, false, false, out);
    const std::size_t n = in.putDestination(0);
    if (!in.incomplete()) return n;
    in.clearText();
    return 0;
}

// ---- Instruction printers --------------------------------------------------------------

namespace {

std::size_t printNothing(Instruction &in) {
    in.endListing();
    return 0;
}

// Monitor expression: opcode, total length L, target, input mask, then
// terms in postfix order, the root operator last.
const char *operatorWord(unsigned b) {
    switch (b >> 4) {
    case 0x8: return "and";
    case 0x9: return "or";
    case 0xA: return "xor";
    case 0xC: return "nand";
    case 0xD: return "nor";
    case 0xE: return "nxor";
    default: return nullptr;
    }
}

struct Term {
    enum Kind { Input, Operator, Flag, Motor, Servo } kind;
    std::size_t at;   // first byte in the instruction
    unsigned number;  // stored number; for an operator its operand count
    bool on;          // input state A, flag set, motor or servo running
};

// Prints the operands of the operator term `op`, walking backward; returns
// the index of the leftmost term it consumed, or -1 when the terms run out
// or name no operator.
long printOperands(Instruction &in, const std::vector<Term> &terms, long op) {
    long i = op - 1;
    for (unsigned n = 0; n < terms[op].number; ++n) {
        if (i < 0) return -1;
        const Term &t = terms[static_cast<std::size_t>(i)];
        switch (t.kind) {
        case Term::Operator: {
            const char *word = operatorWord(in.at(t.at));
            if (!word) return -1;
            in.putf(" (%s", word);
            const long first = printOperands(in, terms, i);
            if (first < 0) return -1;
            in.put(")");
            i = first - 1;
            continue;
        }
        case Term::Input:
            in.putf(" in#%u%c", t.number + 1, t.on ? 'A' : 'B');
            break;
        case Term::Flag:
            in.putf(" flag#%u:%s", t.number + 1, t.on ? "set" : "clear");
            break;
        case Term::Motor:
        case Term::Servo:
            in.putf(" %s#%u:%s", t.kind == Term::Servo ? "servo" : "motor", t.number + 1,
                    t.on ? "running" : "stopped");
            break;
        }
        --i;
    }
    return i + 1;
}

std::size_t printMonitorExpression(Instruction &in) {
    const std::size_t length = in.at(1);
    const std::size_t target = 2;
    const std::size_t before = 2 + in.targetBytes();
    unsigned mask = in.at(before);
    std::size_t maskBytes = 1;
    const std::size_t c = 8 + (in.ea() ? static_cast<std::size_t>(std::popcount(in.at(before))) : 0);
    if (in.wide() || length > before + 1 + c) {
        mask = in.u16(before);
        maskBytes = 2;
    }

    std::vector<Term> terms;
    std::size_t at = before + maskBytes;
    bool broken = length < at;
    while (!broken && at < length && !in.incomplete()) {
        const std::size_t k = terms.size();
        const unsigned b = in.at(at);
        Term t{Term::Input, at, 0, false};
        std::size_t n = 1;
        if (k < 16 && (mask >> k) & 1) {
            const std::size_t inputBytes = in.ea() ? 2 : 1;
            const unsigned high = in.at(at + inputBytes - 1);
            t.number = in.ea() ? (b | ((high & 0x03) << 8)) : (b & 0x7F);
            t.on = high & 0x80;
            n = inputBytes;
        } else if (b & 0x80) {
            t.kind = Term::Operator;
            t.number = b & 0x0F;
        } else if (b & 0x40) {
            t.kind = Term::Flag;
            t.on = b & 0x20;
            if (in.wide()) {
                t.number = in.at(at + 1) & 0x7F;
                n = 2;
            } else {
                t.number = b & 0x1F;
            }
        } else {
            t.kind = (b & 0x10) ? Term::Servo : Term::Motor;
            t.on = b & 0x20;
            if (in.wide()) {
                t.number = in.at(at + 1) & 0x1F;
                n = 2;
            } else {
                t.number = b & 0x0F;
            }
        }
        if (at + n > length) broken = true;
        terms.push_back(t);
        at += n;
    }

    const char *root = nullptr;
    if (!broken && !terms.empty() && terms.back().kind == Term::Operator) root = operatorWord(in.at(terms.back().at));
    if (!root) {
        // No expression to show: the step's listing ends here.
        in.clearText();
        in.endListing();
        return length;
    }
    in.putf("    monitor (%s", root);
    if (printOperands(in, terms, static_cast<long>(terms.size()) - 1) < 0) {
        in.clearText();
        in.endListing();
        return length;
    }
    in.put(") goto ");
    in.putGoto(target);
    return length;
}

std::size_t printMessage(Instruction &in) {
    static const char *const kinds[] = {nullptr, "warning ", "alarm ", "monitor ", "modify ", "menu ", "blank "};
    in.put("    message ");
    const unsigned kind = in.at(2) & 0x1F;
    if (kind < std::size(kinds) && kinds[kind]) in.put(kinds[kind]);
    switch (in.at(3)) {
    case 0: in.put("line#1\n"); break;
    case 1: in.put("line#2\n"); break;
    case 255: in.put("all\n"); break;
    default: break;
    }
    return 4;
}

// Delays: by thumbwheel, by two constant bytes, or by a source operand.
template <const char *Format>
std::size_t printDelayThumbwheel(Instruction &in) {
    const std::size_t t = in.targetBytes();
    in.put("    delay ");
    in.putf(Format, (in.at(1 + t) & 0x0F) + 1);
    in.put("goto ");
    in.putGoto(1);
    return 1 + t + 1;
}

template <const char *First, const char *Second, unsigned SecondScale>
std::size_t printDelayConstant(Instruction &in) {
    const std::size_t t = in.targetBytes();
    const unsigned a = in.at(1 + t), b = in.at(2 + t);
    in.put("    delay ");
    if (a) in.putf(First, a);
    if (b) in.putf(Second, b * SecondScale);
    in.put("goto ");
    in.putGoto(1);
    return 1 + t + 2;
}

template <const char *Unit>
std::size_t printDelaySource(Instruction &in) {
    const std::size_t t = in.targetBytes();
    in.put("    delay ");
    const std::size_t s = in.putSource(1 + t);
    in.put(Unit);
    in.put("goto ");
    in.putGoto(1);
    return 1 + t + s;
}

constexpr char kHhmm[] = "twhl#%u hhmm ";
constexpr char kMmss[] = "twhl#%u mmss ";
constexpr char kSsff[] = "twhl#%u ssff ";
constexpr char kHr[] = "%u hr ";
constexpr char kMin[] = "%u min ";
constexpr char kSec[] = "%u sec ";
constexpr char kMs[] = "%u ms ";
constexpr char kUnitMin[] = " min ";
constexpr char kUnitSec[] = " sec ";
constexpr char kUnitSec100[] = " sec/100 ";

template <const char *What>
std::size_t printMonitorServo(Instruction &in) {
    in.putf("    monitor servo#%u:%s", in.at(1) + 1u, What);
    in.put(" goto ");
    in.putGoto(2);
    return 2 + in.targetBytes();
}

template <const char *What>
std::size_t printMonitorMotor(Instruction &in) {
    in.putf("    monitor motor#%u:%s", in.at(1) + 1u, What);
    in.put(" goto ");
    if (in.at(0) & 0x20)
        in.putf("[%u]\n", in.stepNumber(2) + 1);
    else
        in.put("next\n");
    return 2 + in.targetBytes();
}

constexpr char kStopped[] = "stopped";
constexpr char kRunning[] = "running";

std::size_t printStoreOperation(Instruction &in) {
    static const char *const operators[] = {"+",   "-",   "*",    "/",      "and", "or",  "xor",
                                            "nand", "nor", "nxor", "andnot", "mod", "ror", "rol"};
    in.put("    store ");
    const std::size_t s1 = in.putSource(2);
    in.put(" ");
    const unsigned op = in.at(1);
    if (op < std::size(operators)) in.put(operators[op]);
    in.put(" ");
    const std::size_t s2 = in.putSource(2 + s1);
    in.put(" to ");
    const std::size_t d = in.putDestination(2 + s1 + s2);
    in.put("\n");
    return 2 + s1 + s2 + d;
}

std::size_t printStore(Instruction &in) {
    in.put("    store ");
    const std::size_t s = in.putSource(1);
    in.put(" to ");
    const std::size_t d = in.putDestination(1 + s);
    in.put("\n");
    return 1 + s + d;
}

// Servo profile: the option byte chooses which sources follow it.
std::size_t putServoProfile(Instruction &in, unsigned servo, std::size_t optionAt) {
    const unsigned option = in.at(optionAt);
    std::size_t at = optionAt + 1;
    in.putf("    profile servo#%u", servo);
    if (option & 0x04) {
        switch (option & 0x03) {
        case 2:
            in.put(" deadband of ");
            at += in.putSource(at);
            break;
        case 0: in.put(" motor off"); break;
        case 1: in.put(" servo"); break;
        default: break;
        }
        in.put(" at position");
    }
    static const char *const names[] = {" maxspeed=", " accel=", " gain=", " zero=", " pole="};
    for (unsigned bit = 3; bit <= 7; ++bit) {
        if (!(option & (1u << bit))) continue;
        in.put(names[bit - 3]);
        at += in.putSource(at);
    }
    in.put("\n");
    return at;
}

std::size_t printServoProfileLong(Instruction &in) { return putServoProfile(in, (in.at(2) & 0x1F) + 1, 3); }
std::size_t printServoProfileShort(Instruction &in) { return putServoProfile(in, (in.at(1) >> 5) + 1, 2); }

// Counters: c from bits 3 to 5 of the opcode, the action from bits 0 to 2.
std::size_t printCounterStart(Instruction &in, unsigned counter) {
    in.putf("    start ctr#%u", counter);
    const std::size_t slot = in.ea() ? 3 : 2;
    static const char *const names[] = {" up(", " down(", " reset("};
    for (std::size_t s = 0; s < 3; ++s) {
        const std::size_t at = 1 + s * slot;
        const unsigned time = in.at(at);
        if (time > 250) continue;
        in.put(names[s]);
        in.putInput(at + 1);
        if (time) in.putf(":%ums", time);
        in.put(")");
    }
    in.put("\n");
    return 1 + 3 * slot;
}

std::size_t printCounter(Instruction &in) {
    const unsigned op = in.at(0);
    const unsigned counter = ((op >> 3) & 0x07) + 1;
    static const char *const actions[] = {"reinit", nullptr, "count up", "count down", "reset", "enable", "disable"};
    const unsigned k = op & 0x07;
    if (k == 1) return printCounterStart(in, counter);
    in.putf("    %s ctr#%u\n", actions[k], counter);
    return 1;
}

std::size_t printStopMotor(Instruction &in) {
    in.putf("    stop motor#%u\n", (in.at(1) & 0x0F) + 1u);
    return 2;
}

std::size_t printZeroMotor(Instruction &in) {
    const unsigned b = in.at(1);
    if (b & 0x20)
        in.putf("    search %s and zero motor#%u\n", (b & 0x10) ? "cw" : "ccw", (b & 0x0F) + 1);
    else
        in.putf("    zero motor#%u\n", (b & 0x0F) + 1);
    return 2;
}

std::size_t printSetFlag(Instruction &in) {
    const unsigned b = in.at(1);
    in.putf((b & 0x80) ? "    set flag#%u\n" : "    clear flag#%u\n", (b & 0x7F) + 1);
    return 2;
}

std::size_t printIf(Instruction &in) {
    static const char *const relations[] = {" = ", " <> ", " > ", " >= ", " < ", " <= ", "", ""};
    const std::size_t t = in.targetBytes();
    in.put("    if ");
    const std::size_t s1 = in.putSource(2 + t);
    in.put(relations[in.at(1) & 0x07]);
    const std::size_t s2 = in.putSource(2 + t + s1);
    in.put(" goto ");
    in.putGoto(2);
    return 2 + t + s1 + s2;
}

// Servo turn: the mode byte and a source operand when it moves by steps or
// to a position.
std::size_t putServoTurn(Instruction &in, unsigned servo, unsigned mode, std::size_t sourceAt) {
    std::size_t s = 0;
    in.putf("    turn servo#%u", servo);
    const char *direction = (mode & 0x08) ? "cw" : "ccw";
    if (mode & 0x40) {
        in.put(" to ");
        s = in.putSource(sourceAt);
    } else if (mode & 0x20) {
        in.putf(" %s ", direction);
        s = in.putSource(sourceAt);
        in.put(" steps");
    } else if (mode & 0x10) {
        in.putf(" %s", direction);
    }
    if (mode & 0x80) in.put(" on start");
    in.put("\n");
    return sourceAt + s;
}

std::size_t printServoTurnLong(Instruction &in) { return putServoTurn(in, (in.at(2) & 0x1F) + 1, in.at(1), 3); }
std::size_t printServoTurnShort(Instruction &in) { return putServoTurn(in, (in.at(1) & 0x07) + 1, in.at(1), 2); }

std::size_t printMotorProfile(Instruction &in) {
    const unsigned b = in.at(1);
    in.put("    profile ");
    if (b & 0x80) in.put("and zero ");
    in.putf("motor#%u ", (b & 0x0F) + 1);
    switch (b & 0x30) {
    case 0x00: in.put("(2 coils) "); break;
    case 0x10: in.put("(1 coil) "); break;
    case 0x30: in.put("(half) "); break;
    default: break;
    }
    std::size_t at = 2;
    in.put("basespeed=");
    at += in.putSource(at);
    in.put(" maxspeed=");
    at += in.putSource(at);
    in.put(" accel=");
    at += in.putSource(at);
    in.put(" decel=");
    at += in.putSource(at);
    in.put("\n");
    return at;
}

std::size_t printTurnMotor(Instruction &in) {
    const unsigned b = in.at(1);
    std::size_t s = 0;
    in.putf("    turn motor#%u", (b & 0x0F) + 1);
    switch (b & 0x30) {
    case 0x30:
        in.put(" cw ");
        s = in.putSource(2);
        in.put(" steps");
        break;
    case 0x20:
        in.put(" ccw ");
        s = in.putSource(2);
        in.put(" steps");
        break;
    case 0x10:
        s = in.putSource(2);
        in.put(" steps");
        break;
    default:
        in.put(" to ");
        s = in.putSource(2);
        break;
    }
    in.put("\n");
    return 2 + s;
}

std::size_t printDo(Instruction &in) {
    const unsigned count = (in.at(0) & 0x07) + 1;
    const unsigned times = in.at(1);
    const std::size_t t = in.targetBytes();
    const std::size_t each = in.stepNumberBytes();
    in.put("    do (");
    if (in.ea() && !(times & 0x80)) {
        in.endListing();
        return 2 + t + count * each;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (i) in.put(" ");
        in.putf("step%u", in.stepNumber(2 + t + i * each) + 1);
    }
    in.put(") ");
    if (in.ea() || !(times & 0x80)) in.putf("%u times ", times & 0x7F);
    in.put("goto ");
    in.putGoto(2);
    return 2 + t + count * each;
}

std::size_t printGotoNext(Instruction &in) {
    in.put("    goto next\n");
    return 1;
}

std::size_t printGotoStep(Instruction &in) {
    in.putf("    goto step%u\n", in.stepNumber(1) + 1);
    return 1 + in.stepNumberBytes();
}

std::size_t printDone(Instruction &in) {
    in.put("    done\n");
    return 1;
}

std::size_t printStopGoto(Instruction &in) {
    in.put("    stop goto ");
    in.putGoto(1);
    return 1 + in.targetBytes();
}

std::size_t printFlagTest(Instruction &in) {
    const unsigned b = in.at(1);
    const unsigned flag = in.wide() ? (in.at(2) & 0x7F) : (b & 0x1F);
    const std::size_t targetAt = in.wide() ? 3 : 2;
    if ((b & 0xE0) == 0x20) {
        in.putf("    testandset flag#%u", flag + 1);
    } else {
        in.putf("    monitor flag#%u", flag + 1);
        if ((b & 0xE0) == 0x80) in.put(":set");
        if ((b & 0xE0) == 0x40) in.put(":clear");
    }
    in.put(" goto ");
    in.putGoto(targetAt);
    return targetAt + in.targetBytes();
}

std::size_t printMonitorInput(Instruction &in) {
    const std::size_t t = in.targetBytes();
    in.put("    monitor ");
    const std::size_t n = in.putInput(1 + t);
    in.put(" goto ");
    in.putGoto(1);
    return 1 + t + n;
}

std::size_t printZeroServo(Instruction &in) {
    const unsigned b = in.at(1);
    in.putf("    %szero servo#%u\n", (b & 0x20) ? "search and " : "", (b & 0x1F) + 1);
    return 2;
}

std::size_t printCancelTasks(Instruction &in) {
    in.put("    cancel other tasks\n");
    return 1;
}

std::size_t printFlagShift(Instruction &in) {
    const unsigned control = in.at(1);
    unsigned first, last, count;
    std::size_t length;
    if (in.wide()) {
        first = in.at(2) & 0x7F;
        last = in.at(3) & 0x7F;
        count = in.at(4);
        length = 5;
    } else {
        first = control & 0x1F;
        last = in.at(2) & 0x1F;
        count = in.at(3) & 0x1F;
        length = 4;
    }
    if (first >= last) {
        in.endListing();
        return length;
    }
    in.putf("    %s flag#%u", (control & 0x20) ? "rotate" : "shift", first + 1);
    in.put((control & 0x80) ? " << " : " >> ");
    in.putf("flag#%u", last + 1);
    if (count > 1) in.putf(" %u times", count);
    in.put("\n");
    return length;
}

std::size_t printStopServo(Instruction &in) {
    const unsigned b = in.at(1);
    in.putf("    stop %s servo#%u\n", (b & 0x80) ? "(soft)" : "(hard)", (b & 0x1F) + 1);
    return 2;
}

constexpr std::array<StepPrinter, 256> buildStepPrinterTable() {
    std::array<StepPrinter, 256> t{};
    for (auto &p : t) p = printNothing;
    auto both = [&t](unsigned op, StepPrinter p) {  // without and with a target
        t[op] = p;
        t[op | 0x20] = p;
    };
    both(0x00, printMonitorExpression);
    t[0x01] = printMessage;
    both(0x03, printDelayThumbwheel<kHhmm>);
    both(0x04, printDelayConstant<kHr, kMin, 1>);
    both(0x05, printDelaySource<kUnitMin>);
    both(0x07, printMonitorServo<kStopped>);
    both(0x0B, printDelayThumbwheel<kMmss>);
    both(0x0C, printDelayConstant<kMin, kSec, 1>);
    both(0x0D, printDelaySource<kUnitSec>);
    both(0x0F, printMonitorServo<kRunning>);
    both(0x13, printDelayThumbwheel<kSsff>);
    both(0x14, printDelayConstant<kSec, kMs, 10>);
    both(0x15, printDelaySource<kUnitSec100>);
    for (unsigned op = 0x18; op <= 0x1E; ++op) t[op] = printStoreOperation;
    t[0x37] = printServoProfileLong;
    for (unsigned op = 0x38; op <= 0x3C; ++op) t[op] = printStore;
    for (unsigned op = 0x40; op <= 0x7E; ++op)
        if ((op & 0x07) != 0x07) t[op] = printCounter;
    both(0x47, printMonitorMotor<kStopped>);
    both(0x4F, printMonitorMotor<kRunning>);
    t[0x57] = printStopMotor;
    t[0x5F] = printZeroMotor;
    t[0x77] = printServoProfileShort;
    t[0x7F] = printSetFlag;
    for (unsigned op = 0x80; op <= 0x84; ++op) both(op, printIf);
    t[0x88] = printServoTurnLong;
    for (unsigned op = 0x8D; op <= 0x8F; ++op) t[op] = printServoTurnLong;
    for (unsigned op = 0x90; op <= 0x98; ++op) t[op] = printMotorProfile;
    for (unsigned op = 0xA5; op <= 0xA7; ++op) t[op] = printTurnMotor;
    for (unsigned op = 0xC0; op <= 0xC7; ++op) both(op, printDo);
    t[0xC8] = printServoTurnShort;
    for (unsigned op = 0xCD; op <= 0xCF; ++op) t[op] = printServoTurnShort;
    t[0xC9] = printGotoNext;
    t[0xE9] = printGotoStep;
    t[0xCA] = printDone;
    both(0xCB, printStopGoto);
    both(0xCC, printFlagTest);
    both(0xD0, printMonitorInput);
    both(0xD8, printMonitorInput);
    t[0xE8] = printZeroServo;
    t[0xEA] = printCancelTasks;
    t[0xED] = printFlagShift;
    t[0xEF] = printStopServo;
    return t;
}

constexpr char kSeparator[] =
    "    ---------------------------------------------------------------------------\n";
static_assert(sizeof kSeparator == 4 + 75 + 1 + 1);

// The digital-output block; returns its length.
std::size_t putOutputBlock(std::string &out, std::span<const std::uint8_t> code, bool ea) {
    const unsigned n = code.empty() ? 0 : code[0];
    if (n == 0) {
        out += "        <NO CHANGE IN DIGITAL OUTPUTS>\n";
        return 1;
    }
    if (n == 0x81) {
        out += "        <TURN ALL DIGITAL OUTPUTS OFF>\n";
        return 1;
    }
    const std::size_t entryBytes = ea ? 2 : 1;
    // Only the entries that lie inside the step are shown.
    const std::size_t shown = std::min<std::size_t>(n, (code.size() - 1) / entryBytes);
    char buffer[32];
    for (std::size_t i = 0; i < shown; ++i) {
        const std::uint8_t *e = code.data() + 1 + i * entryBytes;
        const unsigned number = ea ? (e[0] | ((e[1] & 0x7F) << 8)) : (e[0] & 0x7F);
        const bool on = (ea ? e[1] : e[0]) & 0x80;
        if (i % 4 == 0) out += "    ";
        std::snprintf(buffer, sizeof buffer, "%9d%c", static_cast<int>(number + 1), on ? '+' : '-');
        out += buffer;
        out += (i % 4 == 3 || i + 1 == shown) ? "\n" : "       ";
    }
    return 1 + n * entryBytes;
}

}  // namespace

const std::array<StepPrinter, 256> StepPrinterTable = buildStepPrinterTable();

std::string StepText(std::span<const std::uint8_t> code, bool ea, bool wide) {
    std::string out;
    AppendStepText(out, code, ea, wide);
    return out;
}

void AppendStepText(std::string &out, std::span<const std::uint8_t> code, bool ea, bool wide) {
    out += kSeparator;
    if (code.empty()) {
        out += kSeparator;
        return;
    }
    const std::size_t block = putOutputBlock(out, code, ea);
    out += kSeparator;
    std::size_t at = block;
    while (at < code.size()) {
        Instruction in(code.subspan(at), ea, wide, out);
        const std::size_t length = StepPrinterTable[code[at]](in);
        // An instruction cut by the end of the step is not shown.
        if (in.incomplete()) {
            in.clearText();
            break;
        }
        if (in.ends() || length == 0 || length > code.size() - at) break;
        at += length;
    }
}

void PrintStep(std::FILE *out, std::span<const std::uint8_t> code, bool ea) {
    const std::string text = StepText(code, ea, WideFlagFormat.load());
    std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace orv
