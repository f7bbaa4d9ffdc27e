#include "command.h"

namespace orv {

bool Command::send(std::span<const std::uint8_t> request, const ReplyTest &expected, std::int32_t &result) {
    result = 0;
    length_ = 0;
    // An empty frame: an argument did not fit its field.
    if (!connection_ || request.empty()) return false;
    std::size_t delivered = 0;
    if (!SendData(id_, kPacketClassRequest, request.data(), static_cast<std::uint32_t>(request.size()),
                  reply_.data(), delivered, &expected))
        return false;
    length_ = delivered;
    return true;
}

bool Command::run(std::span<const std::uint8_t> request, ReplyShape shape, std::int32_t &result) {
    return runWith(request, [&](std::span<const std::uint8_t> r) {
        if (r.size() < 2) return false;
        if (shape.length >= 0 && r[0] != shape.length) return false;
        if (shape.code >= 0 && r[1] != shape.code) return false;
        return true;
    }, result);
}

std::int32_t Command::write(std::span<const std::uint8_t> request) {
    std::int32_t result = 0;
    if (!run(request, kExpectAck, result)) return result;
    return 1;
}

bool Command::has(std::size_t end) {
    // Data ends before the checksum at byte L - 1.
    const std::size_t announced = length_ > 0 ? reply_[0] : 0;
    if (end + 1 <= announced && end <= length_) return true;
    connection_->setError(err::kPacket, err::kIncomplete);
    return false;
}

bool Command::hasLong(std::size_t end) {
    const std::size_t checksumAt = length_ >= 3 ? GetU16(reply_.data() + 1) + std::size_t{2} : 0;
    if (end <= checksumAt && end <= length_) return true;
    connection_->setError(err::kPacket, err::kIncomplete);
    return false;
}

bool Command::arrived(std::size_t end) {
    if (end <= length_) return true;
    connection_->setError(err::kPacket, err::kIncomplete);
    return false;
}

}  // namespace orv
