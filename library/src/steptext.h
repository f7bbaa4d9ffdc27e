// The text of one step of a Movrel program: its digital-output block between
// two separator lines, then its instructions one by one, each printed by the
// entry of StepPrinterTable that its opcode selects.
//
// Every byte a printer reads lies inside the step: an instruction that would
// run past the step's end is not printed, and the step's listing ends there.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace orv {

// One instruction being printed: its bytes from the opcode up to the end of
// the step, the notation, and the text it has appended to `out` so far.
class Instruction {
public:
    Instruction(std::span<const std::uint8_t> bytes, bool ea, bool wide, std::string &out)
        : bytes_(bytes), ea_(ea), wide_(wide), text_(out), start_(out.size()) {}

    bool ea() const { return ea_; }
    bool wide() const { return wide_; }
    // Byte i of the instruction (0 is the opcode); past the step's end it
    // reads 0 and marks the instruction incomplete.
    std::uint8_t at(std::size_t i);
    std::uint16_t u16(std::size_t i) { return static_cast<std::uint16_t>(at(i) | (at(i + 1) << 8)); }
    bool incomplete() const { return incomplete_; }

    void put(const char *text) { text_ += text; }
    void putf(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Takes back everything this instruction appended.
    void clearText() { text_.resize(start_); }
    // The step's listing ends after this instruction's text.
    void endListing() { ends_ = true; }
    bool ends() const { return ends_; }

    // Goto targets: bit 5 of the opcode says a target follows (EA 2 bytes,
    // non-EA 1); its text is "step<n>\n" or "next\n".
    std::size_t targetBytes();
    std::size_t stepNumberBytes() const { return ea_ ? 2 : 1; }
    unsigned stepNumber(std::size_t i) { return ea_ ? u16(i) : at(i); }
    void putGoto(std::size_t targetAt);
    // Operands at byte i; each returns its length (0: no known operand, and
    // nothing printed).
    std::size_t putSource(std::size_t i) { return putOperand(i, true); }
    std::size_t putDestination(std::size_t i) { return putOperand(i, false); }
    // An input reference "in#<n><A|B>" at byte i; returns its length.
    std::size_t putInput(std::size_t i);

private:
    std::size_t putOperand(std::size_t i, bool source);
    std::size_t putRegisterOrCounter(std::size_t i);
    std::size_t putPrototypeItem(std::size_t i);
    std::size_t putRegister16(std::size_t i);

    std::span<const std::uint8_t> bytes_;
    bool ea_;
    bool wide_;
    bool incomplete_ = false;
    bool ends_ = false;
    std::string &text_;
    std::size_t start_;
};

// An instruction printer prints one instruction and returns its length.
using StepPrinter = std::size_t (*)(Instruction &);
extern const std::array<StepPrinter, 256> StepPrinterTable;

// The text of one operand alone, as the instruction printers write it, and
// its length; for tests and callers outside a step.
std::size_t PrintSourceOperand(std::string &out, std::span<const std::uint8_t> operand);
std::size_t PrintDestinationOperand(std::string &out, std::span<const std::uint8_t> operand);

// The whole listing of a step (`code` holds the step's bytes, at most 255).
std::string StepText(std::span<const std::uint8_t> code, bool ea, bool wide);
// The same, appended to `out`.
void AppendStepText(std::string &out, std::span<const std::uint8_t> code, bool ea, bool wide);
// Writes it into a listing file; the wide flag notation is WideFlagFormat's.
void PrintStep(std::FILE *out, std::span<const std::uint8_t> code, bool ea);

}  // namespace orv
