// The emulated controller's V-registers: typed variables, each with a type,
// a few header values and a value area, kept by number.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

namespace orvemu {

struct VRegister {
    std::int32_t type = 16;
    std::uint8_t headerA = 0;
    std::uint8_t headerB = 0;
    std::uint8_t headerC = 0;
    std::uint16_t headerD = 0;
    std::uint32_t headerE = 0;
    std::uint32_t headerF = 0;
    // Characters of a string value (type 4).
    std::uint16_t stringLength = 0;
    // The value, little-endian, as it travels in the value area.
    std::array<std::uint8_t, 224> value{};
    // What the properties request answers for this V-register.
    std::uint16_t property1 = 0;
    std::uint16_t property2 = 0;
    std::uint8_t property3 = 0;
};

struct VRegisters {
    // Value types.
    static constexpr std::int32_t kInteger = 1;
    static constexpr std::int32_t kWord = 2;
    static constexpr std::int32_t kString = 4;
    static constexpr std::int32_t kFloat = 8;
    static constexpr std::int32_t kDouble = 16;

    // Numbers outside first..last are refused as illegal register numbers.
    std::uint32_t first = 1;
    std::uint32_t last = 65535;
    // V-registers written so far; one never written reads as a zero value of
    // the type that the request asks for.
    std::map<std::uint16_t, VRegister> entries;

    bool legal(std::uint32_t n) const { return n >= first && n <= last; }

    // Bytes per value of a numeric type in a block; 0 for any other type.
    static std::size_t valueSize(std::int32_t type) {
        switch (type) {
        case kInteger: case kWord: case kFloat: return 4;
        case kDouble: return 8;
        default: return 0;
        }
    }

    // Direct access for tests.
    VRegister &at(std::uint16_t n) { return entries[n]; }
    void setInt(std::uint16_t n, std::int32_t v) { store(n, kInteger, &v, 4); }
    void setFloat(std::uint16_t n, float v) { store(n, kFloat, &v, 4); }
    void setDouble(std::uint16_t n, double v) { store(n, kDouble, &v, 8); }
    void setString(std::uint16_t n, const std::string &s) {
        VRegister &r = entries[n];
        r.type = kString;
        r.value.fill(0);
        const std::size_t len = s.size() < r.value.size() ? s.size() : r.value.size();
        std::memcpy(r.value.data(), s.data(), len);
        r.stringLength = static_cast<std::uint16_t>(len);
    }
    std::int32_t getInt(std::uint16_t n) const { std::int32_t v = 0; load(n, &v, 4); return v; }
    float getFloat(std::uint16_t n) const { float v = 0; load(n, &v, 4); return v; }
    double getDouble(std::uint16_t n) const { double v = 0; load(n, &v, 8); return v; }
    std::string getString(std::uint16_t n) const {
        auto it = entries.find(n);
        if (it == entries.end()) return {};
        return std::string(reinterpret_cast<const char *>(it->second.value.data()), it->second.stringLength);
    }

private:
    // The host is little-endian, as the wire is.
    void store(std::uint16_t n, std::int32_t type, const void *v, std::size_t size) {
        VRegister &r = entries[n];
        r.type = type;
        r.stringLength = 0;
        r.value.fill(0);
        std::memcpy(r.value.data(), v, size);
    }
    void load(std::uint16_t n, void *v, std::size_t size) const {
        auto it = entries.find(n);
        if (it != entries.end()) std::memcpy(v, it->second.value.data(), size);
    }
};

}  // namespace orvemu
