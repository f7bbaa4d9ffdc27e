// The object file through the uncompiler: the first byte is the model code,
// the rest the file. The listings go to a folder of this process's own and
// are removed after each run; a file-size limit keeps a runaway listing
// from filling the disk (the write then fails and the call must say so).
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "orvcomm.h"

namespace {

struct Files {
    std::string dir, obj, stp, dtb, cfg;
    Files() {
        dir = std::filesystem::temp_directory_path().string() + "/orvfuzz.XXXXXX";
        if (!mkdtemp(dir.data())) std::abort();
        obj = dir + "/prog.obj";
        stp = dir + "/prog.stp";
        dtb = dir + "/prog.dtb";
        cfg = dir + "/prog.cfg";
    }
};

const Files &files() {
    static const Files *f = new Files;
    return *f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    rlimit limit{64u << 20, 64u << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    files();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return -1;
    // After the fuzzer's own handlers: a write past the limit fails
    // instead of ending the process.
    static const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    (void)ignored;
    const Files &f = files();
    {
        std::ofstream out(f.obj, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    ZQ_TRANSFER_STATS stats{};
    ZqUncompile(data[0] % 20, f.obj.c_str(), f.stp.c_str(), f.dtb.c_str(), f.cfg.c_str(), &stats);
    ZQ_ERROR_INFO e{};
    ZqGetErrorInfo(0, &e);
    for (const std::string *p : {&f.obj, &f.stp, &f.dtb, &f.cfg}) std::remove(p->c_str());
    return 0;
}
