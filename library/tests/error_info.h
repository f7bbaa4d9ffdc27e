// The last error of a connection, as a test reads it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "orvcomm.h"

namespace orvtest {

// The error text ("<no connection>" for an unknown ID), and its code.
inline std::string ErrorText(std::int32_t id, std::int32_t *code = nullptr) {
    ZQ_ERROR_INFO e{};
    if (!ZqGetErrorInfo(id, &e)) {
        if (code) *code = -1;
        return "<no connection>";
    }
    if (code) *code = e.code;
    return std::string(e.text, strnlen(e.text, sizeof e.text));
}

inline std::int32_t ErrorCode(std::int32_t id) {
    std::int32_t code = -1;
    ErrorText(id, &code);
    return code;
}

}  // namespace orvtest
