// Many threads on the library at once: readers over UDP and TCP, each on a
// connection of its own, beside a thread that opens and closes connections
// and fails opens (which write the library-wide error that the readers
// read). Built also with ThreadSanitizer (tools/tsan.sh), where any data
// race fails the run.
#include <arpa/inet.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"

using namespace orvtest;

namespace {

struct ReaderCounts {
    int reads = 0;
    int failed = 0;
    int wrong = 0;
};

}  // namespace

TEST(Threads, ReadersOverUdpAndTcpBesideOpensAndCloses) {
    EmulatorLink link(Link::Udp);  // UDP and TCP on one address
    ASSERT_TRUE(link.ok());
    constexpr int kReaders = 8;
    constexpr int kReads = 150;
    for (int k = 0; k < kReaders; ++k) SetRegister(link.controller(), 100 + k, 5000 + 37 * k);
    const std::int32_t address = link.openAddress();
    // Nothing listens there: a TCP open is refused at once.
    const std::int32_t nobody = static_cast<std::int32_t>(inet_addr(NextLoopbackAddress().c_str()));

    std::vector<std::int32_t> ids(kReaders);
    for (int k = 0; k < kReaders; ++k) {
        ids[static_cast<std::size_t>(k)] = ZqOpenConnection(k % 2 ? ZQ_TYPE_TCP : ZQ_TYPE_UDP, 0, address);
        ASSERT_NE(ids[static_cast<std::size_t>(k)], 0) << ErrorText(0);
        // Generous: a loaded machine (or the sanitizer) may be slow to answer.
        ASSERT_EQ(ZqSetConnectionTimeout(ids[static_cast<std::size_t>(k)], 3000), 1);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> opened{0}, refused{0};
    std::thread churn([&] {
        while (!stop.load()) {
            for (const std::int32_t type : {ZQ_TYPE_UDP, ZQ_TYPE_TCP}) {
                const std::int32_t id = ZqOpenConnection(type, 0, address);
                if (id != 0) {
                    ++opened;
                    ZqSetConnectionTimeout(id, 3000);
                    ZQ_CONNECTION_INFO info{};
                    ZqGetConnectionInfo(id, &info);
                    ZqCloseConnection(id);
                }
            }
            if (ZqOpenConnection(ZQ_TYPE_TCP, 0, nobody) == 0) ++refused;
            ZqOpenConnection(7, 0, 0);  // an unknown type: no record at all
        }
    });

    std::vector<ReaderCounts> counts(kReaders);
    std::vector<std::thread> readers;
    for (int k = 0; k < kReaders; ++k) {
        readers.emplace_back([&, k] {
            ReaderCounts &n = counts[static_cast<std::size_t>(k)];
            const std::int32_t id = ids[static_cast<std::size_t>(k)];
            const auto request = ReadRegister(static_cast<std::uint16_t>(100 + k));
            std::uint8_t reply[1536];
            for (int i = 0; i < kReads; ++i) {
                ++n.reads;
                if (ZqSendData(id, ZQ_PACKET_CLASS_REQUEST, request.data(),
                               static_cast<std::uint32_t>(request.size()), reply) != 1) {
                    ++n.failed;
                } else if (orvemu::u32(reply + 2) != static_cast<std::uint32_t>(5000 + 37 * k)) {
                    ++n.wrong;
                }
                ZQ_ERROR_INFO e{};
                ZqGetErrorInfo(0, &e);
                ZqGetErrorInfo(id, &e);
                ZQ_MESSAGE_INFO m{};
                ZqGetMessageInfo(id, &m);
            }
        });
    }
    for (auto &t : readers) t.join();
    stop = true;
    churn.join();

    for (int k = 0; k < kReaders; ++k) {
        SCOPED_TRACE("reader " + std::to_string(k));
        const ReaderCounts &n = counts[static_cast<std::size_t>(k)];
        EXPECT_EQ(n.reads, kReads);
        EXPECT_EQ(n.wrong, 0);
        EXPECT_EQ(n.failed, 0) << ErrorText(ids[static_cast<std::size_t>(k)]);
        EXPECT_EQ(ZqCloseConnection(ids[static_cast<std::size_t>(k)]), 1);
    }
    EXPECT_GT(opened.load(), 0);
    EXPECT_GT(refused.load(), 0);
}
