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

inline const std::string kDone = "    done\n";
inline const std::string kSeparator = "    " + std::string(75, '-') + "\n";
inline const std::string kNoChange = "        <NO CHANGE IN DIGITAL OUTPUTS>\n";

// A step's listing: the output block between its separators, then the body.
inline std::string Framed(const std::string &block, const std::string &body) {
    return kSeparator + block + kSeparator + body;
}

// Non-EA notation.
inline const std::vector<StepCase> kNonEaCases = {
    // Monitor expressions.
    {{0x00, 0x06, 0x01, 0x85, 0x63, 0x92}, "    monitor (or flag#4:set in#6A) goto next\n"},
    {{0x20, 0x09, 0x04, 0x01, 0x01, 0x25, 0x13, 0x82, 0x92},
     "    monitor (or (and servo#4:stopped motor#6:running) in#2B) goto step5\n"},
    {{0x00, 0x0E, 0x00, 0x01, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x05, 0xA9},
     "    monitor (xor in#6B flag#8:clear flag#7:clear flag#6:clear flag#5:clear flag#4:clear flag#3:clear "
     "flag#2:clear flag#1:clear) goto next\n"},
    {{0x00, 0x07, 0x00, 0x20, 0x33, 0xC2, 0xD1}, "    monitor (nor (nand servo#4:running motor#1:running)) goto next\n"},
    {{0x00, 0x05, 0x00, 0x64, 0xE1}, "    monitor (nxor flag#5:set) goto next\n"},
    {{0x00, 0x04, 0x00, 0xB1}, "", false},              // no operator 0xB
    {{0x00, 0x05, 0x00, 0x41, 0x92}, "", false},        // operands run out
    {{0x00, 0x05, 0x00, 0x41, 0x42}, "", false},        // no root operator
    {{0x00, 0x00}, "", false},                          // a length of 0
    // Messages.
    {{0x01, 0x00, 0x03, 0xFF}, "    message monitor all\n"},
    {{0x01, 0x00, 0x26, 0x00}, "    message blank line#1\n"},
    {{0x01, 0x00, 0x21, 0x01}, "    message warning line#2\n"},
    {{0x01, 0x00, 0x02, 0x01}, "    message alarm line#2\n"},
    {{0x01, 0x00, 0x04, 0x00}, "    message modify line#1\n"},
    {{0x01, 0x00, 0x05, 0x00}, "    message menu line#1\n"},
    {{0x01, 0x00, 0x07, 0x05}, "    message "},
    // Delays.
    {{0x23, 0x04, 0x02}, "    delay twhl#3 hhmm goto step5\n"},
    {{0x03, 0x0F}, "    delay twhl#16 hhmm goto next\n"},
    {{0x0B, 0x01}, "    delay twhl#2 mmss goto next\n"},
    {{0x33, 0x00, 0x10}, "    delay twhl#1 ssff goto step1\n"},
    {{0x04, 0x02, 0x1E}, "    delay 2 hr 30 min goto next\n"},
    {{0x04, 0x00, 0x05}, "    delay 5 min goto next\n"},
    {{0x24, 0x09, 0x00, 0x00}, "    delay goto step10\n"},
    {{0x0C, 0x01, 0x00}, "    delay 1 min goto next\n"},
    {{0x2C, 0x01, 0x00, 0x3B}, "    delay 59 sec goto step2\n"},
    {{0x14, 0x03, 0x07}, "    delay 3 sec 70 ms goto next\n"},
    {{0x34, 0x00, 0x00, 0x01}, "    delay 10 ms goto step1\n"},
    {{0x05, 0xF0, 0x2C, 0x01}, "    delay 300 min goto next\n"},
    {{0x2D, 0x07, 0x85}, "    delay ain#6 sec goto step8\n"},
    {{0x15, 0xE3}, "    delay twhl#4 sec/100 goto next\n"},
    {{0x35, 0x00, 0xFB, 0x00, 0x00}, "    delay  sec/100 goto step1\n", false},  // register 0: nothing, 0 bytes
    // Servo and motor monitors.
    {{0x07, 0x02}, "    monitor servo#3:stopped goto next\n"},
    {{0x2F, 0x00, 0x0A}, "    monitor servo#1:running goto step11\n"},
    {{0x47, 0x04}, "    monitor motor#5:stopped goto next\n"},
    {{0x67, 0x00, 0x02}, "    monitor motor#1:stopped goto [3]\n"},
    {{0x4F, 0x01}, "    monitor motor#2:running goto next\n"},
    {{0x6F, 0x03, 0x00}, "    monitor motor#4:running goto [1]\n"},
    // Stores.
    {{0x18, 0x0B, 0x09, 0xF0, 0x64, 0x00, 0x0A}, "    store reg#10 mod 100 to reg#11\n"},
    {{0x1E, 0x0D, 0xC2, 0xFA, 0x01, 0x00, 0xE5}, "    store col#3 rol servo#2:position to disp#6\n"},
    {{0x19, 0x00, 0xFA, 0x1F, 0x01, 0x09, 0x7F}, "    store servo#32:error + reg#10 to reg#128\n"},
    {{0x1A, 0x01, 0x01, 0x01, 0x02}, "    store ctr#2 - ctr#2 to ctr#3\n"},
    {{0x1B, 0x02, 0xFB, 0x08, 0x00, 0xFB, 0x09, 0x00, 0xFB, 0x60, 0xEA}, "    store ctr#8 * reg#9 to reg#60000\n"},
    {{0x1C, 0x03, 0x08, 0x08, 0xC0}, "    store reg#9 / reg#9 to col#1\n"},
    {{0x1D, 0x04, 0x08, 0x08, 0xDF}, "    store reg#9 and reg#9 to col#32\n"},
    {{0x18, 0x05, 0xE0, 0xEF, 0xEF}, "    store twhl#1 or twhl#16 to disp#16\n"},
    {{0x18, 0x06, 0xBF, 0x80, 0x80}, "    store ain#64 xor ain#1 to aout#1\n"},
    {{0x18, 0x07, 0x00, 0x00, 0x00}, "    store ctr#1 nand ctr#1 to ctr#1\n"},
    {{0x18, 0x08, 0x00, 0x00, 0x00}, "    store ctr#1 nor ctr#1 to ctr#1\n"},
    {{0x18, 0x09, 0x00, 0x00, 0x00}, "    store ctr#1 nxor ctr#1 to ctr#1\n"},
    {{0x18, 0x0A, 0x00, 0x00, 0x00}, "    store ctr#1 andnot ctr#1 to ctr#1\n"},
    {{0x18, 0x0C, 0x00, 0x00, 0x00}, "    store ctr#1 ror ctr#1 to ctr#1\n"},
    {{0x18, 0x0E, 0x00, 0x01, 0x02}, "    store ctr#1  ctr#2 to ctr#3\n"},
    {{0x38, 0xF9, 0xFF, 0xFF, 0xFF, 0xFF, 0x9F}, "    store -1 to aout#32\n"},
    {{0x39, 0xF9, 0x40, 0x42, 0x0F, 0x00, 0x10}, "    store 1000000 to reg#17\n"},
    {{0x3C, 0xF8, 0x83, 0x41, 0xF8, 0x02, 0x9F}, "    store proto#4:byte#2:bcd to proto#3:bit#32\n"},
    {{0x3A, 0xF8, 0x07, 0x01, 0xF8, 0x80, 0x02}, "    store proto#8:word#2 to proto#1::bcd\n"},
    {{0x3B, 0xF8, 0x00, 0xC0, 0xF8, 0x00, 0x44}, "    store proto#1: to proto#1:\n"},
    // Unknown operands print nothing and take no bytes, so what follows is
    // read from the wrong place.
    {{0x38, 0xFA, 0x20, 0x00, 0x01}, "    store  to \n", false},  // servo 33
    {{0x38, 0xF1, 0x01}, "    store  to \n", false},              // no operand kind F1
    {{0x38, 0x01, 0xF0}, "    store ctr#2 to \n", false},         // F0 is no destination
    {{0x38, 0x01, 0xFB, 0x61, 0xEA}, "    store ctr#2 to \n", false},     // register 60001: nothing
    // Servo profiles.
    {{0x37, 0x00, 0x21, 0x0E, 0xF0, 0x64, 0x00, 0x05}, "    profile servo#2 deadband of 100 at position maxspeed=ctr#6\n"},
    {{0x77, 0xE0, 0xF4, 0x0A, 0x0B, 0x0C, 0x0D},
     "    profile servo#8 motor off at position accel=reg#11 gain=reg#12 zero=reg#13 pole=reg#14\n"},
    {{0x77, 0x00, 0x05}, "    profile servo#1 servo at position\n"},
    {{0x37, 0xFF, 0x1F, 0x07}, "    profile servo#32 at position\n"},
    {{0x77, 0x20, 0x03}, "    profile servo#2\n"},
    // Counters.
    {{0x40}, "    reinit ctr#1\n"},
    {{0x7A}, "    count up ctr#8\n"},
    {{0x53}, "    count down ctr#3\n"},
    {{0x4C}, "    reset ctr#2\n"},
    {{0x65}, "    enable ctr#5\n"},
    {{0x76}, "    disable ctr#7\n"},
    {{0x49, 0x00, 0x85, 0x0A, 0x03, 0xFB, 0x00}, "    start ctr#2 up(in#6A) down(in#4B:10ms)\n"},
    {{0x79, 0xFF, 0x00, 0xFF, 0x00, 0x01, 0x7F}, "    start ctr#8 reset(in#128B:1ms)\n"},
    // Motors.
    {{0x57, 0x1F}, "    stop motor#16\n"},
    {{0x5F, 0x32}, "    search cw and zero motor#3\n"},
    {{0x5F, 0x21}, "    search ccw and zero motor#2\n"},
    {{0x5F, 0x05}, "    zero motor#6\n"},
    {{0x90, 0x9A, 0xF0, 0x64, 0x00, 0xF0, 0xC8, 0x00, 0x0A, 0x0B},
     "    profile and zero motor#11 (1 coil) basespeed=100 maxspeed=200 accel=reg#11 decel=reg#12\n"},
    {{0x98, 0x20, 0x00, 0x00, 0x00, 0x00}, "    profile motor#1 basespeed=ctr#1 maxspeed=ctr#1 accel=ctr#1 decel=ctr#1\n"},
    {{0x94, 0x01, 0x00, 0x00, 0x00, 0x00}, "    profile motor#2 (2 coils) basespeed=ctr#1 maxspeed=ctr#1 accel=ctr#1 decel=ctr#1\n"},
    {{0x91, 0x3F, 0x00, 0x00, 0x00, 0x00}, "    profile motor#16 (half) basespeed=ctr#1 maxspeed=ctr#1 accel=ctr#1 decel=ctr#1\n"},
    {{0xA5, 0x33, 0xF0, 0xE8, 0x03}, "    turn motor#4 cw 1000 steps\n"},
    {{0xA6, 0x20, 0x0A}, "    turn motor#1 ccw reg#11 steps\n"},
    {{0xA7, 0x11, 0x0A}, "    turn motor#2reg#11 steps\n"},
    {{0xA5, 0x00, 0x0B}, "    turn motor#1 to reg#12\n"},
    // Flags.
    {{0x7F, 0x85}, "    set flag#6\n"},
    {{0x7F, 0x7F}, "    clear flag#128\n"},
    {{0xCC, 0x85}, "    monitor flag#6:set goto next\n"},
    {{0xCC, 0x43}, "    monitor flag#4:clear goto next\n"},
    {{0xEC, 0x21, 0x03}, "    testandset flag#2 goto step4\n"},
    {{0xCC, 0x01}, "    monitor flag#2 goto next\n"},
    {{0xCC, 0xFF}, "    monitor flag#32 goto next\n"},
    {{0xED, 0x02, 0x07, 0x03}, "    shift flag#3 >> flag#8 3 times\n"},
    {{0xED, 0xA0, 0x05, 0x01}, "    rotate flag#1 << flag#6\n"},
    {{0xED, 0x05, 0x05, 0x00}, "", false},
    // Comparisons.
    {{0xA0, 0x02, 0x04, 0x0A, 0xF0, 0xE8, 0x03}, "    if reg#11 > 1000 goto step5\n"},
    {{0x80, 0x00, 0x01, 0x02}, "    if ctr#2 = ctr#3 goto next\n"},
    {{0x81, 0x01, 0x01, 0x02}, "    if ctr#2 <> ctr#3 goto next\n"},
    {{0x82, 0x0B, 0x01, 0x02}, "    if ctr#2 >= ctr#3 goto next\n"},
    {{0x83, 0x04, 0x01, 0x02}, "    if ctr#2 < ctr#3 goto next\n"},
    {{0xA4, 0x05, 0x00, 0x01, 0x02}, "    if ctr#2 <= ctr#3 goto step1\n"},
    {{0x84, 0x06, 0x09, 0x0A}, "    if reg#10reg#11 goto next\n"},
    // Servo turns and stops.
    {{0x88, 0xC8, 0x03, 0xF0, 0x10, 0x00}, "    turn servo#4 to 16 on start\n"},
    {{0x8D, 0x28, 0x00, 0x0A}, "    turn servo#1 cw reg#11 steps\n"},
    {{0x8E, 0x10, 0x01}, "    turn servo#2 ccw\n"},
    {{0x8F, 0x00, 0x1F}, "    turn servo#32\n"},
    {{0xC8, 0x5A, 0x0B}, "    turn servo#3 to reg#12\n"},
    {{0xCD, 0x98}, "    turn servo#1 cw on start\n"},
    {{0xCE, 0x27, 0x0C}, "    turn servo#8 ccw reg#13 steps\n"},
    {{0xCF, 0x00}, "    turn servo#1\n"},
    {{0xE8, 0x25}, "    search and zero servo#6\n"},
    {{0xE8, 0x1F}, "    zero servo#32\n"},
    {{0xEF, 0x83}, "    stop (soft) servo#4\n"},
    {{0xEF, 0x00}, "    stop (hard) servo#1\n"},
    // Task flow.
    {{0xC2, 0x05, 0x00, 0x01, 0x02}, "    do (step1 step2 step3) 5 times goto next\n"},
    {{0xE0, 0x85, 0x09, 0x04}, "    do (step5) goto step10\n"},
    {{0xC9}, "    goto next\n"},
    {{0xE9, 0x07}, "    goto step8\n"},
    {{0xCA}, "    done\n"},
    {{0xCB}, "    stop goto next\n"},
    {{0xEB, 0x02}, "    stop goto step3\n"},
    {{0xEA}, "    cancel other tasks\n"},
    // Input monitors.
    {{0xD0, 0x8A}, "    monitor in#11A goto next\n"},
    {{0xF0, 0x03, 0x0A}, "    monitor in#11B goto step4\n"},
    {{0xD8, 0x7F}, "    monitor in#128B goto next\n"},
    {{0xF8, 0x00, 0x80}, "    monitor in#1A goto step1\n"},
    // Opcodes that are no instruction end the listing.
    {{0x02, 0xCA}, "", false},
    {{0xFF}, "", false},
};

// EA notation: targets, step numbers and output entries of two bytes,
// inputs of two bytes.
inline const std::vector<StepCase> kEaCases = {
    {{0x20, 0x09, 0x0A, 0x00, 0x01, 0x01, 0x81, 0x42, 0x82}, "    monitor (and flag#3:clear in#258A) goto step11\n"},
    // The mask's set bits widen the limit: with two inputs L = 13 still
    // takes a one-byte mask (13 > 2 + 1 + 8 + 2 is false).
    {{0x00, 0x0D, 0x03, 0x05, 0x00, 0x06, 0x80, 0x40, 0x41, 0x42, 0x43, 0x44, 0x97},
     "    monitor (or flag#5:clear flag#4:clear flag#3:clear flag#2:clear flag#1:clear in#7A in#6B) goto next\n"},
    {{0x23, 0x0A, 0x01, 0x05}, "    delay twhl#6 hhmm goto step267\n"},
    {{0x2F, 0x02, 0x00, 0x01}, "    monitor servo#3:running goto step257\n"},
    {{0x67, 0x01, 0x10, 0x00}, "    monitor motor#2:stopped goto [17]\n"},
    {{0x41, 0xFA, 0x01, 0x81, 0x05, 0x02, 0x00, 0x64, 0xFF, 0x03},
     "    start ctr#1 up(in#258A:250ms) down(in#3B:5ms) reset(in#1024B:100ms)\n"},
    {{0xA1, 0x01, 0x0A, 0x00, 0xF0, 0x01, 0x00, 0x09}, "    if 1 <> reg#10 goto step11\n"},
    {{0xE1, 0x83, 0x0A, 0x00, 0x01, 0x00, 0x02, 0x00}, "    do (step2 step3) 3 times goto step11\n"},
    {{0xC0, 0x03, 0x05, 0x00}, "    do (", false},
    {{0xE9, 0x00, 0x01}, "    goto step257\n"},
    {{0xEB, 0xFF, 0xFF}, "    stop goto step65536\n"},
    {{0xEC, 0x80, 0x09, 0x00}, "    monitor flag#1:set goto step10\n"},
    {{0xD8, 0xFF, 0x82}, "    monitor in#768A goto next\n"},
    {{0xF0, 0x01, 0x00, 0x02, 0x01}, "    monitor in#259B goto step2\n"},
    {{0x18, 0x00, 0x01, 0x01, 0x02}, "    store ctr#2 + ctr#2 to ctr#3\n"},
};

// Wide flag numbers (EA notation).
inline const std::vector<StepCase> kWideCases = {
    {{0x00, 0x09, 0x00, 0x00, 0x60, 0x45, 0x30, 0x11, 0xC2}, "    monitor (nand servo#18:running flag#70:set) goto next\n"},
    {{0x20, 0x0B, 0x03, 0x00, 0x01, 0x00, 0x04, 0x00, 0x20, 0x1F, 0x82},
     "    monitor (and motor#32:running in#5B) goto step4\n"},
    {{0xEC, 0x80, 0x45, 0x09, 0x00}, "    monitor flag#70:set goto step10\n"},
    {{0xCC, 0x40, 0x7F}, "    monitor flag#128:clear goto next\n"},
    {{0xEC, 0x20, 0x00, 0x01, 0x00}, "    testandset flag#1 goto step2\n"},
    {{0xED, 0x80, 0x10, 0x40, 0x02}, "    shift flag#17 << flag#65 2 times\n"},
    {{0xED, 0x20, 0x00, 0x7F, 0x01}, "    rotate flag#1 >> flag#128\n"},
    {{0xED, 0x00, 0x7F, 0x7F, 0x01}, "", false},
};

}  // namespace orv::test
