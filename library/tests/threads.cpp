// Many threads on the library at once: readers over UDP and TCP, each on a
// connection of its own, beside a thread that opens and closes connections
// and fails opens (which write the library-wide error that the readers
// read). Built also with ThreadSanitizer (tools/tsan.sh), where any data
// race fails the run.
#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "temp_dir.h"
#include "transfer_checks.h"

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
        ASSERT_EQ(ZqSetConnectionTimeout(ids[static_cast<std::size_t>(k)], kAnswerTimeout), 1);
    }

    std::atomic<bool> stop{false};
    std::atomic<int> opened{0}, refused{0};
    std::thread churn([&] {
        while (!stop.load()) {
            for (const std::int32_t type : {ZQ_TYPE_UDP, ZQ_TYPE_TCP}) {
                const std::int32_t id = ZqOpenConnection(type, 0, address);
                if (id != 0) {
                    ++opened;
                    ZqSetConnectionTimeout(id, kAnswerTimeout);
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

TEST(Threads, QueriesBesideAnExchangeOnTheSameConnection) {
    EmulatorLink link(Link::Udp);  // UDP and TCP on one address
    ASSERT_TRUE(link.ok());
    SetRegister(link.controller(), 7, 4242);
    for (const std::int32_t type : {ZQ_TYPE_UDP, ZQ_TYPE_TCP}) {
        SCOPED_TRACE(type == ZQ_TYPE_UDP ? "udp" : "tcp");
        const std::int32_t id = ZqOpenConnection(type, 0, link.openAddress());
        ASSERT_NE(id, 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id, kAnswerTimeout), 1);
        constexpr int kReads = 400;
        std::atomic<bool> stop{false};
        std::atomic<int> queries{0}, queryFailures{0};
        // Beside the reads: the three information calls and time-out
        // changes, as a monitor's window thread makes them.
        std::thread query([&] {
            std::int32_t timeout = kAnswerTimeout;
            while (!stop.load()) {
                ZQ_MESSAGE_INFO m{};
                ZQ_CONNECTION_INFO c{};
                ZQ_ERROR_INFO e{};
                timeout = timeout == kAnswerTimeout ? kAnswerTimeout + 1 : kAnswerTimeout;
                if (ZqGetMessageInfo(id, &m) != 1 || ZqGetConnectionInfo(id, &c) != 1 ||
                    ZqGetErrorInfo(id, &e) != 1 || ZqSetConnectionTimeout(id, timeout) != 1)
                    ++queryFailures;
                ++queries;
            }
        });
        // The queries are under way before the first read goes out.
        while (queries.load() == 0) std::this_thread::yield();
        int right = 0, refused = 0;
        for (int i = 0; i < kReads; ++i) {
            std::int32_t v = 0;
            // Every other read asks for a register that does not exist: the
            // controller's refusal sets the connection's error.
            if (i % 2 == 0) right += ZqGetRegister(id, 7, &v) == 1 && v == 4242;
            else refused += ZqGetRegister(id, 40001, &v) == 0 && ErrorCode(id) == 216;
        }
        // The query thread has run beside the reads at least once more.
        for (const int seen = queries.load(); queries.load() < seen + 2;) std::this_thread::yield();
        stop = true;
        query.join();
        EXPECT_EQ(right, kReads / 2);
        EXPECT_EQ(refused, kReads / 2);
        EXPECT_EQ(queryFailures.load(), 0);
        ZQ_MESSAGE_INFO m{};
        ASSERT_EQ(ZqGetMessageInfo(id, &m), 1);
        EXPECT_EQ(m.requestLength, 7);
        EXPECT_EQ(m.replyLength, 4) << "the last reply: the refusal";
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
}

// Two threads share one connection: one makes calls that the controller
// refuses, the other calls that it acknowledges. Each call reports the
// outcome of its own request, and its thread then reads its own error.
TEST(Threads, TwoThreadsOnOneConnectionEachGetTheirOwnOutcome) {
    EmulatorLink link(Link::Udp);  // UDP and TCP on one address
    ASSERT_TRUE(link.ok());
    constexpr int kCalls = 4000;
    for (const std::int32_t type : {ZQ_TYPE_UDP, ZQ_TYPE_TCP}) {
        SCOPED_TRACE(type == ZQ_TYPE_UDP ? "udp" : "tcp");
        const std::int32_t id = ZqOpenConnection(type, 0, link.openAddress());
        ASSERT_NE(id, 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id, kAnswerTimeout), 1);
        // Register 50000 does not exist: its writes and reads are refused
        // (216); register 100 takes every write.
        int refusedAsSuccess = 0, outputWritten = 0, otherError = 0, ackedAsFailure = 0;
        std::thread refused([&] {
            for (int i = 0; i < kCalls; ++i) {
                std::int32_t value = -7;
                if ((i % 2 ? ZqGetRegister(id, 50000, &value) : ZqPutRegister(id, 50000, i)) != 0) ++refusedAsSuccess;
                else if (ErrorCode(id) != 216) ++otherError;
                outputWritten += value != -7;
            }
        });
        for (int i = 0; i < kCalls; ++i) ackedAsFailure += ZqPutRegister(id, 100, i) != 1;
        refused.join();
        std::printf("of %d refused calls %d reported success\n", kCalls, refusedAsSuccess);
        EXPECT_EQ(refusedAsSuccess, 0);
        EXPECT_EQ(outputWritten, 0);
        EXPECT_EQ(otherError, 0);
        EXPECT_EQ(ackedAsFailure, 0);
        EXPECT_EQ(ZqCloseConnection(id), 1);
    }
}

// On a serial line a reply of another form fails its call and leaves the
// line dirty, and the next request first waits for a quiet line. That wait
// holds the connection as the exchange does: a time-out change from
// another thread meanwhile meets no port in use (the thread sanitizer build
// sees such a use).
TEST(Threads, TimeoutChangesBesideASerialReplyCheck) {
    EmulatorLink link(Link::Serial);
    ASSERT_TRUE(link.ok());
    const std::int32_t id = link.open();
    ASSERT_NE(id, 0) << ErrorText(0);
    ASSERT_EQ(ZqSetConnectionTimeout(id, 20), 1);
    constexpr int kReads = 20;
    link.controller().setFault({orvemu::FaultKind::WrongCode, kReads});
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread change([&] {
        for (std::int32_t ms = 20; !stop.load(); ms = ms == 20 ? 21 : 20) {
            ZqSetConnectionTimeout(id, ms);
            ++changes;
        }
    });
    while (changes.load() == 0) std::this_thread::yield();
    std::int32_t value = 0;
    // On a busy machine the line's check before a request may get no
    // answer within the 20 ms: that call fails with the time-out and its
    // request does not go out.
    std::size_t timedOut = 0;
    for (int i = 0; i < kReads; ++i) {
        EXPECT_EQ(ZqGetRegister(id, 1, &value), 0);
        ZQ_ERROR_INFO why{};
        ZqGetErrorInfo(id, &why);
        if (why.code == 170) ++timedOut;
    }
    stop = true;
    change.join();
    const auto sent = static_cast<std::size_t>(kReads) - timedOut;
    WaitUntil([&] { return link.controller().requestCount() >= sent; });
    EXPECT_LE(link.controller().requestCount(), static_cast<std::size_t>(kReads));
    EXPECT_EQ(ZqCloseConnection(id), 1);
}

// Another thread closes the connection while an upload or a download runs
// on it, over UDP and TCP, and a third makes refused calls on it until
// then: the transfer ends with a failure on its own copy of the record,
// never on a record the close has freed, and reads the record's error only
// under its lock, beside the third thread's writes (the sanitizer builds
// see any such use or race).
TEST(Threads, CloseBesideATransfer) {
    for (const auto &[kind, upload] : {std::pair{Link::Udp, true}, {Link::Tcp, true}, {Link::Udp, false},
                                       {Link::Tcp, false}}) {
        SCOPED_TRACE(std::string(upload ? "upload over " : "download over ") + LinkName(kind));
        EmulatorLink link(kind);
        ASSERT_TRUE(link.ok());
        const ProgramImage program = SampleProgram(5);
        LoadProgram(link.controller(), program);
        orv::test::TempDir dir;
        const std::string path = dir.file("closed.dso");
        if (!upload) orv::test::WriteBytes(path, ExpectedObjectFile(program));
        const std::uint8_t held = upload ? 0x39 : 0x59;  // a data-table row read, a block write
        const std::int32_t id = link.open();
        ASSERT_NE(id, 0) << ErrorText(0);
        ASSERT_EQ(ZqSetConnectionTimeout(id, kAnswerTimeout), 1);

        // The third such request is answered only once the connection has
        // left the table, so the close is under way while the transfer
        // still runs.
        const orvemu::Handler handle = link.controller().handler(held);
        std::atomic<int> requests{0};
        std::atomic<bool> reached{false};
        link.controller().setHandler(held, [&](orvemu::Controller &c, const orvemu::Request &r) {
            if (++requests == 3) {
                reached = true;
                ZQ_CONNECTION_INFO info{};
                const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                while (ZqGetConnectionInfo(id, &info) == 1 && std::chrono::steady_clock::now() < bound)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return handle(c, r);
        });
        std::thread refused([&] {
            ZQ_CONNECTION_INFO info{};
            while (ZqGetConnectionInfo(id, &info) == 1) ZqPutRegister(id, 50000, 1);
        });
        std::atomic<std::int32_t> closed{-1};
        std::thread closer([&] {
            const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!reached && std::chrono::steady_clock::now() < bound)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            closed = ZqCloseConnection(id);
        });
        ZQ_TRANSFER_STATS stats{};
        const std::int32_t result =
            upload ? ZqUpload(id, path.c_str(), &stats) : ZqDownload(id, path.c_str(), &stats);
        closer.join();
        refused.join();
        EXPECT_TRUE(reached.load());
        EXPECT_EQ(closed.load(), 1);
        EXPECT_EQ(result, 0);
        link.controller().setHandler(held, handle);
    }
}
