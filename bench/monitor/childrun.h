// What the file-reader benchmarks share: writing a large file without
// holding it, and timing a read in a process of its own, so that each
// case's peak resident size is its own.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <chrono>
#include <string>
#include <type_traits>

namespace bench {

// Writes the file a piece at a time, so that writing it costs no memory.
inline bool writeFile(const std::string &path, const QByteArray &head, const QByteArray &piece, long pieces,
                      const QByteArray &tail = {}) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    bool ok = f.write(head) == head.size();
    for (long i = 0; ok && i < pieces; ++i) ok = f.write(piece) == piece.size();
    return ok && f.write(tail) == tail.size();
}

// Runs `read(figures)` in a child process and hands back its figures, with
// the time the read took (`ms`) and the child's peak (`peakKb`) filled in;
// all zero when the child could not run. Figures must be plain data.
template <typename Figures, typename Read> Figures inChild(Read read) {
    static_assert(std::is_trivially_copyable_v<Figures>);
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        Figures f;
        const auto start = std::chrono::steady_clock::now();
        read(f);
        f.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        f.peakKb = u.ru_maxrss;
        [[maybe_unused]] const auto n = ::write(fds[1], &f, sizeof f);
        _exit(0);
    }
    ::close(fds[1]);
    Figures f;
    if (pid < 0 || ::read(fds[0], &f, sizeof f) != sizeof f) f = {};
    ::close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    return f;
}

}  // namespace bench
