// Replies of every command family, as a controller on the line might send
// them, through the library's public calls on one transport (FUZZ_LINK).
//
// The input is a Script (peer.h): the operation byte picks the call, the
// argument byte varies its arguments, and the replies answer its requests
// in turn. With ORV_FUZZ_RECORD=<folder> set, the target writes one seed
// per operation there instead, its replies those of the emulator, and
// exits.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "controller.h"
#include "orvcomm.h"
#include "peer.h"

namespace {

using fuzz::Bytes;

// Every value a call hands back goes through here, so that reading an
// unwritten or short result shows up under the sanitizers.
volatile std::int64_t sink;
template <typename T> void use(const T &v) {
    const auto *p = reinterpret_cast<const unsigned char *>(&v);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < sizeof v; ++i) sum += p[i];
    sink = sum;
}

std::string tempDir() {
    static const std::string dir = [] {
        std::string d = std::filesystem::temp_directory_path().string() + "/orvfuzz.XXXXXX";
        if (!mkdtemp(d.data())) std::abort();
        return d;
    }();
    return dir;
}

ZQ_VREGISTER vregister(std::uint8_t arg) {
    static const std::int32_t types[] = {ZQ_VTYPE_INTEGER, ZQ_VTYPE_WORD, ZQ_VTYPE_STRING, ZQ_VTYPE_FLOAT,
                                         ZQ_VTYPE_DOUBLE};
    ZQ_VREGISTER r{};
    r.number = 1 + arg;
    r.type = types[arg % 5];
    r.stringLength = arg;
    r.intValue = arg;
    std::memset(r.text, 'a', arg % sizeof r.text);
    return r;
}

ZQ_VREGISTER_BLOCK vblock(std::uint8_t arg) {
    static const std::int32_t types[] = {ZQ_VTYPE_INTEGER, ZQ_VTYPE_WORD, ZQ_VTYPE_FLOAT, ZQ_VTYPE_DOUBLE, 3};
    ZQ_VREGISTER_BLOCK b{};
    b.firstNumber = 1 + arg;
    b.type = types[arg % 5];
    b.countRequested = 1 + (arg * 7) % 360;
    for (int i = 0; i < ZQ_VREGISTER_RANDOM_ENTRIES; ++i) {
        b.values.entries[i][0] = 1 + i;
        b.values.entries[i][1] = types[(arg + i) % 4];
        b.values.entries[i][2] = i;
    }
    return b;
}

// One call (or a few related ones) per operation; `arg` varies them.
constexpr int kOperations = 40;

void run(std::int32_t id, fuzz::Link link, std::uint8_t op, std::uint8_t arg) {
    std::int32_t v = 0, w = 0, x = 0;
    std::int32_t many[512] = {};
    switch (op % kOperations) {
    case 0: ZqGetRegister(id, arg * 157, &v); use(v); break;
    case 1: ZqGetRegister16(id, 1 + arg, many); use(many); break;
    case 2: ZqGetRegister50(id, 1 + arg, many); use(many); break;
    case 3: {
        std::int32_t regs[64];
        for (int i = 0; i < 64; ++i) regs[i] = i * arg;
        ZqGetNRegisters(id, arg % 52, regs, many);
        use(many);
        break;
    }
    case 4: ZqPutRegister(id, arg, -arg); break;
    case 5: ZqGetVProperties(id, arg, &v, &w, &x); use(v + w + x); break;
    case 6: { ZQ_VREGISTER r = vregister(arg); ZqGetVRegister(id, &r); use(r); break; }
    case 7: { const ZQ_VREGISTER r = vregister(arg); ZqSetVRegister(id, &r); break; }
    case 8: {
        ZQ_VREGISTER r[4] = {vregister(arg), vregister(arg + 1), vregister(arg + 2), vregister(arg + 3)};
        ZqGetVRegisters(id, 1 + arg % 4, &v, r);
        use(r);
        break;
    }
    case 9: {
        const ZQ_VREGISTER r[3] = {vregister(arg), vregister(arg + 1), vregister(arg + 2)};
        ZqSetVRegisters(id, 1 + arg % 3, &v, r);
        break;
    }
    case 10: { ZQ_VREGISTER_BLOCK b = vblock(arg); ZqGetVRegisterBlock(id, &b); use(b); break; }
    case 11: { ZQ_VREGISTER_BLOCK b = vblock(arg); ZqGetVRegisterBlockInteger(id, &b); use(b); break; }
    case 12: { ZQ_VREGISTER_BLOCK b = vblock(arg); ZqGetVRegisterBlockFloat(id, &b); use(b); break; }
    case 13: { ZQ_VREGISTER_BLOCK b = vblock(arg); ZqGetVRegisterBlockDouble(id, &b); use(b); break; }
    case 14: {
        const ZQ_VREGISTER_BLOCK b = vblock(arg);
        switch (arg % 4) {
        case 0: ZqSetVRegisterBlock(id, &b); break;
        case 1: ZqSetVRegisterBlockInteger(id, &b); break;
        case 2: ZqSetVRegisterBlockFloat(id, &b); break;
        default: ZqSetVRegisterBlockDouble(id, &b); break;
        }
        break;
    }
    case 15: {
        ZQ_VREGISTER_BLOCK b = vblock(arg);
        b.countRequested = 1 + arg % 116;
        ZqGetVRegisterRandomBlock(id, &b);
        use(b);
        break;
    }
    case 16: {
        ZQ_VREGISTER_RANDOM_BLOCK_DOUBLE b{};
        b.countRequested = 1 + arg % 116;
        for (int i = 0; i < ZQ_VREGISTER_RANDOM_ENTRIES; ++i) b.entries[i][0] = i + 1;
        ZqGetVRegisterRandomBlockDouble(id, &b);
        use(b);
        break;
    }
    case 17: ZqGetFlag(id, 1 + arg, &v); ZqPutFlag(id, 1 + arg, arg & 1); use(v); break;
    case 18: ZqGetDigitalInput8(id, 1 + arg % 8, &v); ZqGetDigitalOutput8(id, 1 + arg % 8, &w); use(v + w); break;
    case 19: ZqGetDigitalInput128(id, 1 + arg % 8, many); ZqGetDigitalOutput128(id, 1 + arg % 8, many + 4); use(many); break;
    case 20: ZqGetAnalogInput(id, 1 + arg, &v); ZqGetAnalogOutput(id, 1 + arg, &w); use(v + w); break;
    case 21: ZqPutAnalogOutput(id, 1 + arg, arg * 300); break;
    case 22: ZqGetAnalogInput32(id, 1 + arg % 8, many); ZqGetAnalogOutput32(id, 1 + arg % 8, many + 32); use(many); break;
    case 23: ZqPutAnalogOutputN(id, 1 + arg % 200, 1 + arg % 64, many); break;
    case 24: {
        ZqGetServoPosition(id, 1 + arg % 16, &v);
        ZqGetServoError(id, 1 + arg % 16, &w);
        ZqGetServoInputs(id, 1 + arg % 16, &x);
        use(v + w + x);
        break;
    }
    case 25: ZqGetDataTableDim(id, &v, &w); ZqPutDataTableDim(id, arg, 1 + arg % 255); use(v + w); break;
    case 26: ZqGetDataTableLoc(id, arg, 1 + arg % 255, &v); ZqPutDataTableLoc(id, arg, 1 + arg % 255, v); break;
    case 27: ZqGetDataTableRow(id, 1 + arg, 1 + arg % 7, arg, many); use(many); break;
    case 28: ZqPutDataTableRow(id, 1 + arg, 1 + arg % 7, arg % 249, many); break;
    case 29: ZqGetStatus(id, &v); ZqPutStatus(id, arg); ZqGetConfig(id, &w); ZqPutConfig(id, arg); use(v + w); break;
    case 30: { ZQ_TASK_BANK bank{}; ZqGetTaskBank(id, 1 + arg, &bank); use(bank); break; }
    case 31: ZqGetModel(id, &v, &w); use(v + w); break;
    case 32: {
        ZQ_IO_COUNT c{};
        ZQ_MISC_IO_COUNT m{};
        ZqGetIoCount(id, &c);
        ZqGetMiscIoCount(id, &m);
        use(c);
        use(m);
        break;
    }
    case 33: {
        std::uint8_t command[ZQ_RUN_COMMAND_MAX_BYTES];
        std::uint8_t reply[ZQ_RUN_COMMAND_REPLY_BYTES];
        std::memset(command, arg, sizeof command);
        v = 0;
        if (ZqRunCommand(id, command, arg % 252, reply, &v) == 1) use(reply);
        break;
    }
    case 34: {
        ZQ_REMOTE_IO_DATA d{};
        switch (arg % 4) {
        case 0: ZqGetQ80Data(id, &d); break;
        case 1: ZqLoadRemoteIOConfig(id, 0); break;
        case 2: ZqUnloadRemoteIOConfig(id, &d); break;
        default: ZqGetRemoteIOData(id, &d); break;
        }
        use(d);
        break;
    }
    case 35: {
        const std::uint8_t request[] = {0x01, 0x05, 0x09, arg, 0x00, static_cast<std::uint8_t>(~(0x09 + arg)), 0xFF};
        std::uint8_t reply[1536];
        if (ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, request, sizeof request, reply) == 1) {
            ZQ_MESSAGE_INFO m{};
            ZqGetMessageInfo(id, &m);
            use(m);
        }
        break;
    }
    case 36: {
        const std::uint8_t text[] = {'V', 'E', 'R', '\r'};
        std::uint8_t reply[1536];
        ZqSendAscii(id, text, sizeof text, reply, arg % 3 == 0 ? 0 : '\r');
        break;
    }
    case 37:
    case 38:
    case 39: {
        // The whole program upload: many exchanges, so only where a spent
        // script ends it at once (TCP closes).
        if (link != fuzz::Link::Tcp) break;
        const std::string file = tempDir() + "/upload.obj";
        ZQ_TRANSFER_STATS stats{};
        ZqUpload(id, file.c_str(), &stats);
        use(stats);
        std::remove(file.c_str());
        break;
    }
    }
    ZQ_ERROR_INFO e{};
    ZqGetErrorInfo(id, &e);
    use(e);
}

fuzz::FakePeer &peer() {
    static auto *p = new fuzz::FakePeer(FUZZ_LINK);
    return *p;
}

const char *linkName() {
    switch (FUZZ_LINK) {
    case fuzz::Link::Serial: return "serial";
    case fuzz::Link::Udp: return "udp";
    case fuzz::Link::Tcp: return "tcp";
    }
    return "?";
}

// Runs every operation against the emulator and keeps its replies as seeds.
bool recordOne(const std::string &folder, int op, int arg) {
    orvemu::Controller controller(op % 3 == 0 ? 5 : 1);
    fuzz::Script script;
    script.op = static_cast<std::uint8_t>(op);
    script.arg = static_cast<std::uint8_t>(arg);
    script.fixSequence = true;
    peer().answerWith([&](std::span<const std::uint8_t> frame) {
        auto r = controller.handle(frame);
        if (FUZZ_LINK == fuzz::Link::Serial || r.bytes.empty()) {
            script.replies.push_back(r.bytes);
        } else {
            Bytes withHeader{4, 0, 0, 0, ZQ_PACKET_CLASS_REQUEST, 0, static_cast<std::uint8_t>(r.bytes.size()),
                             static_cast<std::uint8_t>(r.bytes.size() >> 8)};
            withHeader.insert(withHeader.end(), r.bytes.begin(), r.bytes.end());
            script.replies.push_back(withHeader);
        }
        return r.bytes;
    });
    const std::int32_t id = peer().open(2000);
    if (id != 0) {
        run(id, FUZZ_LINK, script.op, script.arg);
        ZqCloseConnection(id);
    }
    peer().answerWith(nullptr);
    // Nothing sent: try another argument. Too many replies: no seed.
    if (script.replies.empty()) return false;
    if (script.replies.size() > (op == 37 ? 600u : 40u)) return true;
    const Bytes seed = fuzz::FormatScript(script);
    char name[64];
    std::snprintf(name, sizeof name, "/%s-op%02d", linkName(), op);
    std::ofstream(folder + name, std::ios::binary)
        .write(reinterpret_cast<const char *>(seed.data()), static_cast<std::streamsize>(seed.size()));
    return true;
}

void record(const std::string &folder) {
    std::filesystem::create_directories(folder);
    for (int op = 0; op < 38; ++op)  // one upload seed is enough
        for (const int arg : {op * 5 + 1, 0, 1, 2, 3, 4, 8, 16})
            if (recordOne(folder, op, arg)) break;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    peer();
    if (const char *folder = std::getenv("ORV_FUZZ_RECORD")) {
        record(folder);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::Script s = fuzz::ParseScript(data, size);
    if (size < 3) return -1;
    peer().play(std::move(s.replies), s.fixFrames, s.fixSequence);
    // Short enough for thousands of runs a second when a reply never comes,
    // long enough for a peer that answers at once on a busy machine.
    const std::int32_t id = peer().open(20);
    if (id == 0) return 0;
    run(id, FUZZ_LINK, s.op, s.arg);
    ZqCloseConnection(id);
    return 0;
}
