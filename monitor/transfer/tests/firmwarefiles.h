// Firmware files built by the tests: S-records, plain files, and compressed
// files made by an encoder of the tests' own (counts header, Huffman code of
// the two lightest nodes merged in turn, the lower index first among equals).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace firmware {

// An S-record of the type with the address and data bytes.
inline QString sRecord(char type, unsigned address, const QByteArray &data, int addressBytes = 2) {
    QByteArray body;
    for (int i = addressBytes - 1; i >= 0; --i) body.append(char(address >> (8 * i)));
    body.append(data);
    unsigned sum = unsigned(body.size() + 1);
    for (char b : body) sum += uint8_t(b);
    QByteArray all;
    all.append(char(body.size() + 1));
    all.append(body);
    all.append(char(~sum & 0xFF));
    return QStringLiteral("S") + QLatin1Char(type) + QString::fromLatin1(all.toHex().toUpper());
}

// A small program: header, three data records, termination.
inline QStringList program(const QString &name, unsigned base = 0x1000) {
    return {sRecord('0', 0, name.toLatin1()), sRecord('1', base, "\x01\x02\x03\x04"),
            sRecord('1', base + 4, "\x05\x06\x07\x08"), sRecord('1', base + 8, "\x09\x0A"), sRecord('9', 0, {})};
}

inline QByteArray crlfText(const QStringList &lines) { return (lines.join(QStringLiteral("\r\n")) + "\r\n").toLatin1(); }

inline QString writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write a test file");
    f.write(bytes);
    return path;
}

// The count header: runs of first, last and the counts, closed by 4095.
struct Run {
    int16_t first;
    int16_t last;
    std::vector<int16_t> counts;
};
inline QByteArray header(const QList<Run> &runs) {
    QByteArray out;
    auto put = [&](int16_t v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    for (const Run &r : runs) {
        put(r.first);
        put(r.last);
        for (int16_t c : r.counts) put(c);
    }
    put(4095);
    return out;
}

// The code of every symbol under the counts (256 counted once).
inline std::map<int, QString> codes(std::array<int, 257> counts) {
    counts[256] = 1;
    struct Node {
        int weight;
        int index;
        int child0 = -1, child1 = -1;
    };
    std::vector<Node> nodes;
    std::vector<int> free;
    for (int i = 0; i <= 256; ++i) {
        nodes.push_back({counts[size_t(i)], i});
        if (counts[size_t(i)] > 0) free.push_back(i);
    }
    auto lighter = [&](int a, int b) {
        return nodes[size_t(a)].weight != nodes[size_t(b)].weight ? nodes[size_t(a)].weight < nodes[size_t(b)].weight
                                                                  : a < b;
    };
    while (free.size() > 1) {
        std::sort(free.begin(), free.end(), lighter);
        const int a = free[0], b = free[1];
        free.erase(free.begin(), free.begin() + 2);
        nodes.push_back({nodes[size_t(a)].weight + nodes[size_t(b)].weight, int(nodes.size()), a, b});
        free.push_back(int(nodes.size()) - 1);
    }
    std::map<int, QString> out;
    std::vector<std::pair<int, QString>> stack{{free[0], QString()}};
    while (!stack.empty()) {
        auto [n, code] = stack.back();
        stack.pop_back();
        if (n <= 256) {
            out[n] = code;
            continue;
        }
        stack.push_back({nodes[size_t(n)].child0, code + u'0'});
        stack.push_back({nodes[size_t(n)].child1, code + u'1'});
    }
    return out;
}

// The coded stream of the text and the end symbol, padded with 0 bits.
inline QByteArray stream(const QByteArray &text, const std::map<int, QString> &code) {
    QString bits;
    for (char c : text) bits += code.at(uint8_t(c));
    bits += code.at(256);
    while (bits.size() % 8) bits += u'0';
    QByteArray out;
    for (qsizetype i = 0; i < bits.size(); i += 8) out.append(char(bits.mid(i, 8).toUInt(nullptr, 2)));
    return out;
}

// A whole compressed file of the text: one run over the bytes that occur.
inline QByteArray compress(const QByteArray &text) {
    std::array<int, 257> counts{};
    for (char c : text) ++counts[uint8_t(c)];
    int first = 0, last = 255;
    while (first < 256 && counts[size_t(first)] == 0) ++first;
    while (last >= 0 && counts[size_t(last)] == 0) --last;
    Run run{int16_t(first), int16_t(last), {}};
    for (int i = first; i <= last; ++i) run.counts.push_back(int16_t(counts[size_t(i)]));
    return header({run}) + stream(text, codes(counts));
}

}  // namespace firmware
