#include "uncompile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"
#include "errors.h"
#include "objectfile.h"
#include "orvcomm.h"
#include "steptext.h"

namespace orv {

// ---- Data table and system configuration listings ------------------------------------

bool WriteDataTableText(std::FILE *out, std::uint16_t rows, std::uint16_t columns,
                        std::span<const std::uint8_t> cells) {
    if (rows == 0 || columns == 0) return true;
    std::fprintf(out, "data_table[%d][%d] =\n{", rows, columns);
    // Each cell as "%5u " would print it, a row at a time.
    std::string line;
    line.reserve(6 + 6u * columns);
    std::size_t at = 0;
    for (unsigned r = 0; r < rows; ++r) {
        // A failed write (a full disk) ends the listing at once.
        if (std::ferror(out)) return false;
        line.assign("\n     ");
        for (unsigned c = 0; c < columns; ++c, at += 2) {
            // A table shorter than its size shows its missing cells as 0.
            unsigned value = at + 1 < cells.size() ? (cells[at] << 8) | cells[at + 1] : 0;
            char cell[6] = {' ', ' ', ' ', ' ', ' ', ' '};
            int i = 4;
            do {
                cell[i--] = static_cast<char>('0' + value % 10);
                value /= 10;
            } while (value != 0);
            line.append(cell, sizeof cell);
        }
        std::fwrite(line.data(), 1, line.size(), out);
    }
    std::fputs("\n}\n", out);
    return !std::ferror(out);
}

namespace {

// The values that a model code changes; null keeps the default.
struct ModelConfig {
    const char *model = nullptr;
    bool bigIo = false;  // analog I/O 256, digital I/O 1024
    const char *steppers = nullptr;
    const char *servos = nullptr;
    const char *prototypeBoards = nullptr;
    const char *steps = nullptr;
    const char *flags = nullptr;
};

// By model code 0 to 16; codes 1 and 13, like codes outside the table,
// change nothing.
const std::array<ModelConfig, 17> kModelConfigs{{
    /* 0 */ {"Q10", false, "5", "0", "0", nullptr, nullptr},
    /* 1 */ {},
    /* 2 */ {"Q50", true, nullptr, nullptr, "8", "1024", nullptr},
    /* 3 */ {"Q51", true, nullptr, nullptr, "8", "1024", nullptr},
    /* 4 */ {"Q11", false, "5", "10", "0", nullptr, nullptr},
    /* 5 */ {"Q7XX", true, nullptr, nullptr, "0", "16384", "128"},
    /* 6 */ {"Q20", true, nullptr, nullptr, "0", "1024", nullptr},
    /* 7 */ {"Q20", true, nullptr, nullptr, "0", "1024", nullptr},
    /* 8 */ {"Q21", true, nullptr, nullptr, "0", "1024", nullptr},
    /* 9 */ {"Q22", true, nullptr, nullptr, "0", "1024", nullptr},
    /* 10 */ {"Q30", true, nullptr, nullptr, "0", "1280", nullptr},
    /* 11 */ {"Q41", true, nullptr, nullptr, "0", "1280", nullptr},
    /* 12 */ {"Q42", true, nullptr, nullptr, "0", "1280", nullptr},
    /* 13 */ {},
    /* 14 */ {"Q43", true, nullptr, nullptr, "0", "4096", "128"},
    /* 15 */ {"Q6XX", true, nullptr, nullptr, "0", "1280", nullptr},
    /* 16 */ {"Q44", true, nullptr, nullptr, "0", "4096", "128"},
}};

}  // namespace

bool WriteSystemConfig(std::FILE *out, std::uint8_t sysconf, std::int32_t model) {
    const ModelConfig m = model >= 0 && model < static_cast<std::int32_t>(kModelConfigs.size())
                              ? kModelConfigs[static_cast<std::size_t>(model)]
                              : ModelConfig{};
    auto pick = [](const char *value, const char *byDefault) { return value ? value : byDefault; };
    auto onInput = [sysconf](unsigned bit) { return (sysconf >> bit) & 1 ? "yes" : "no"; };
    const char *analog = m.bigIo ? "256" : "64";
    const char *digital = m.bigIo ? "1024" : "128";
    const std::array<std::pair<const char *, const char *>, 20> SystemConfigTable{{
        {"network_node", "0"},
        {"controller_model", pick(m.model, "Q50")},
        {"start_on_input#1", onInput(0)},
        {"stop_on_input#2", onInput(1)},
        {"reset_on_input#3", onInput(2)},
        {"step_on_input#4", onInput(3)},
        {"analog_inputs", analog},
        {"analog_outputs", analog},
        {"stepper_motors", pick(m.steppers, "16")},
        {"servos", pick(m.servos, "16")},
        {"prototype_boards", pick(m.prototypeBoards, "8")},
        {"highspeed_ctrs", "8"},
        {"thumbwheels", "16"},
        {"digital_displays", "16"},
        {"digital_inputs", digital},
        {"digital_outputs", digital},
        {"steps", pick(m.steps, "256")},
        {"flags", pick(m.flags, "32")},
        {"counters", "8"},
        {"registers", "60000"},
    }};
    for (const auto &[key, value] : SystemConfigTable)
        if (std::fprintf(out, "%s%*s\n", key, 41 - static_cast<int>(std::strlen(key)), value) < 0) return false;
    return true;
}

// ---- The uncompiler ----------------------------------------------------------------------

namespace {

constexpr std::size_t kStepTableSize = 16384;
constexpr std::size_t kProgramSize = 256000;
// A data-table row has at most 255 columns, and a "datatab" record puts at
// most 255 bytes at a 16-bit address: no object file carries a table that
// reaches further.
constexpr std::uint64_t kMostColumns = 255;
constexpr std::uint64_t kMostTableBytes = 0xFFFF + 255;

// The uncompiler has no connection of its own: its error goes to the
// connection that the latest lookup found, or to the library-wide error
// when there is none.
void setUncompileError(std::uint16_t code, const char *text) {
    TableGuard guard;
    if (Connection *c = table::current())
        c->setError(code, text);
    else
        libraryError().set(code, text);
}

// A listing file this call created. Unless kept, it is removed again when
// the call ends, so that a failed call leaves no file behind.
class Listing {
public:
    bool create(const char *path) {
        if (!path) {
            errno = EINVAL;
            return false;
        }
        file_ = std::fopen(path, "wx");  // never replaces an existing file
        if (!file_) return false;
        // Listings run to megabytes: write them in large pieces.
        buffer_ = std::make_unique_for_overwrite<char[]>(kBuffer);
        std::setvbuf(file_, buffer_.get(), _IOFBF, kBuffer);
        path_ = path;
        return true;
    }
    std::FILE *file() const { return file_; }
    // Closes it; false with errno set when something did not reach the disk.
    bool close() {
        if (!file_) return true;
        errno = 0;
        bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
        int error = errno;
        if (std::fclose(file_) != 0) {
            ok = false;
            error = errno;
        }
        file_ = nullptr;
        if (!ok) errno = error ? error : EIO;
        return ok;
    }
    void keep() { keep_ = true; }
    void discard() { keep_ = false; }
    ~Listing() {
        close();
        if (!keep_ && !path_.empty()) std::remove(path_.c_str());
    }

private:
    static constexpr std::size_t kBuffer = 64 * 1024;
    std::unique_ptr<char[]> buffer_;  // outlives file_, which close() ends first
    std::FILE *file_ = nullptr;
    std::string path_;
    bool keep_ = false;
};

class Uncompiler {
public:
    Uncompiler(std::int32_t model, ZQ_TRANSFER_STATS &stats) : model_(model), stats_(stats) {}

    std::int32_t run(const char *objectPath, const char *stepPath, const char *tablePath, const char *configPath) {
        if (!object_.open(objectPath, &stats_)) return refused();
        for (auto [listing, path] : {std::pair{&steps_, stepPath}, {&table_, tablePath}, {&config_, configPath}}) {
            if (!listing->create(path)) {
                setUncompileError(static_cast<std::uint16_t>(errno), err::kCannotCreateFile);
                return 0;
            }
        }
        if (!readHeader()) return 0;

        std::vector<std::uint8_t> program(kProgramSize, 0);
        if (!readRecords(program)) return refused();
        // The first listing write that fails ends the call with its error.
        errno = 0;
        if (!listSteps(program) || !WriteDataTableText(table_.file(), rows_, columns_, dataTable_) ||
            !WriteSystemConfig(config_.file(), sysconf_, model_))
            return writeFailed();

        for (Listing *listing : {&steps_, &table_, &config_}) {
            if (!listing->close()) {
                setUncompileError(static_cast<std::uint16_t>(errno), err::kFileError);
                return 0;
            }
        }
        steps_.keep();
        config_.keep();
        // No data table, no data-table listing.
        if (rows_ != 0 && columns_ != 0) table_.keep();
        return 1;
    }

private:
    // The object file's own fault; the listings created go again.
    std::int32_t refused() {
        setUncompileError(object_.fault().code, object_.fault().text.c_str());
        return 0;
    }

    std::int32_t writeFailed() {
        setUncompileError(static_cast<std::uint16_t>(errno != 0 ? errno : EIO), err::kFileError);
        return 0;
    }

    // The magic chooses the notation; the status byte marks a file that
    // its upload met errors in.
    bool readHeader() {
        std::uint16_t magic = 0;
        if (!object_.readMagic(magic)) return refused();
        switch (magic) {
        case kMagicNonEa: ea_ = false; break;
        case kMagicEa: ea_ = true; break;
        case kMagicEaWide:
            ea_ = true;
            wide_ = model_ != 15;
            break;
        case kMagicEaWide2:
            ea_ = true;
            wide_ = true;
            break;
        default: break;  // the reader takes no other
        }
        WideFlagFormat = wide_;

        std::uint8_t status = 0;
        if (!object_.readStatus(status)) return refused();
        if (status != 0) ++stats_.warnings;
        return true;
    }

    // Copies `data` to `at` in `into` when it fits; otherwise one warning.
    void place(std::span<std::uint8_t> into, std::size_t at, std::span<const std::uint8_t> data) {
        if (at > into.size() || data.size() > into.size() - at) {
            ++stats_.warnings;
            return;
        }
        std::copy(data.begin(), data.end(), into.begin() + static_cast<std::ptrdiff_t>(at));
    }

    // Files every record by its type, to the end of the file; false for a
    // file that breaks off, which is listed not at all.
    bool readRecords(std::vector<std::uint8_t> &program) {
        ProgramOffsetWrap wrap;
        while (ZQ_OBJECT_RECORD *r = object_.next()) {
            const auto data = r->data->view();
            const auto address = static_cast<std::size_t>(r->address);
            switch (r->type) {
            case kRecordSteplen:
                if (address <= kStepTableSize && data.size() <= kStepTableSize - address) {
                    std::copy(data.begin(), data.end(), stepTable_.begin() + static_cast<std::ptrdiff_t>(address));
                    listedSteps_ = std::max(listedSteps_, address + data.size());
                } else {
                    ++stats_.warnings;
                }
                break;
            case kRecordProgram:
                place(program, wrap.full(static_cast<std::uint16_t>(r->address)), data);
                break;
            case kRecordDatatab:
                if (!haveTable_)
                    ++stats_.errors;
                else
                    place(dataTable_, address, data);
                break;
            case kRecordDatasiz:
                readTableSize(data);
                break;
            case kRecordOptions:
                place(options_, address, data);
                break;
            case kRecordSysconf:
                place(std::span<std::uint8_t>(&sysconf_, 1), address, data);
                break;
            case kRecordMagic:
            case kRecordStatus:
                ++stats_.warnings;  // only offsets 0 and 2 hold these
                break;
            default:
                break;  // the checksum is not checked here; unknown types are skipped
            }
        }
        return !object_.fault();
    }

    void readTableSize(std::span<const std::uint8_t> data) {
        if (data.size() < 4) {
            ++stats_.warnings;  // too short to hold both sizes
            return;
        }
        const std::uint16_t rows = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
        const std::uint16_t columns = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
        const std::uint64_t bytes = std::uint64_t{2} * rows * columns;
        haveTable_ = false;
        rows_ = columns_ = 0;
        dataTable_.clear();
        if (columns > kMostColumns || bytes > kMostTableBytes) {
            // Not a table this file can hold: it is neither allocated nor listed.
            ++stats_.errors;
            setUncompileError(err::kBadObjectRecord, err::kTableTooLarge);
            return;
        }
        try {
            dataTable_.assign(static_cast<std::size_t>(bytes), 0);
        } catch (const std::bad_alloc &) {
            ++stats_.errors;
            return;
        }
        rows_ = rows;
        columns_ = columns;
        haveTable_ = true;
    }

    // "\n[n] stepn\n" (a write error shows in the file's error flag).
    void writeStepHeading(std::size_t n) {
        char digits[24];
        const auto count = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
        char heading[64];
        std::size_t at = 0;
        const auto put = [&](const char *text, std::size_t length) {
            std::memcpy(heading + at, text, length);
            at += length;
        };
        put("\n[", 2);
        put(digits, count);
        put("] step", 6);
        put(digits, count);
        put("\n", 1);
        std::fwrite(heading, 1, at, steps_.file());
    }

    // Every non-empty step of the listed part of the step length table,
    // its code taken at the running program offset.
    bool listSteps(const std::vector<std::uint8_t> &program) {
        std::size_t offset = 0;
        std::array<std::uint8_t, 255> code{};
        std::string text;  // one buffer for every step's text
        for (std::size_t i = 0; i < listedSteps_; ++i) {
            const std::size_t length = stepTable_[i];
            if (length == 0) continue;
            ++stats_.steps;
            writeStepHeading(i + 1);
            // Code past the program buffer was never supplied: it reads as 0.
            code.fill(0);
            if (offset < program.size()) {
                const std::size_t n = std::min(length, program.size() - offset);
                std::copy_n(program.begin() + static_cast<std::ptrdiff_t>(offset), n, code.begin());
            }
            text.clear();
            AppendStepText(text, std::span(code.data(), length), ea_, wide_);
            if (std::fwrite(text.data(), 1, text.size(), steps_.file()) != text.size() || std::ferror(steps_.file()))
                return false;
            offset += length;
        }
        return true;
    }

    std::int32_t model_;
    ZQ_TRANSFER_STATS &stats_;
    ObjectFileReader object_;
    Listing steps_, table_, config_;
    bool ea_ = false;
    bool wide_ = false;

    std::array<std::uint8_t, kStepTableSize> stepTable_{};
    std::size_t listedSteps_ = 0;
    std::vector<std::uint8_t> dataTable_;
    bool haveTable_ = false;
    std::uint16_t rows_ = 0;
    std::uint16_t columns_ = 0;
    std::array<std::uint8_t, 4> options_{};
    std::uint8_t sysconf_ = 0;
};

}  // namespace

}  // namespace orv

using namespace orv;

extern "C" {

ZQ_API std::int32_t ZQ_CALL ZqUncompile(std::int32_t model, const char *objectFile, const char *stepFile,
                                        const char *dataTableFile, const char *configFile,
                                        ZQ_TRANSFER_STATS *stats) {
    return Guarded([&]() -> std::int32_t {
        if (!stats) return 0;
        *stats = ZQ_TRANSFER_STATS{};
        WideFlagFormat = false;
        Uncompiler uncompiler(model, *stats);
        return uncompiler.run(objectFile, stepFile, dataTableFile, configFile);
    });
}

}  // extern "C"
