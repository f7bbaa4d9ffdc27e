// Instructions with the text a listing shows for them, worked out by hand
// from the instruction formats. Each case is one instruction; when `goesOn`
// is true the listing continues after it, so a "done" (CA) placed right
// behind it must follow its text, which checks the instruction's length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::test {

// A small fixed-seed generator of arbitrary bytes, so that robustness
// checks see the same bytes on every run.
class ArbitraryBytes {
public:
    explicit ArbitraryBytes(std::uint32_t seed) : seed_(seed) {}
    std::uint8_t operator()() {
        seed_ = seed_ * 1103515245u + 12345u;
        return static_cast<std::uint8_t>(seed_ >> 16);
    }

private:
    std::uint32_t seed_;
};

struct StepCase {
    std::vector<std::uint8_t> code;
    std::string text;
    bool goesOn = true;
};

extern const std::string kDone;
extern const std::string kSeparator;
extern const std::string kNoChange;

// A step's listing: the output block between its separators, then the body.
std::string Framed(const std::string &block, const std::string &body);

// Non-EA notation.
extern const std::vector<StepCase> kNonEaCases;
// EA notation: targets, step numbers and output entries of two bytes,
// inputs of two bytes.
extern const std::vector<StepCase> kEaCases;
// Wide flag numbers (EA notation).
extern const std::vector<StepCase> kWideCases;

}  // namespace orv::test
