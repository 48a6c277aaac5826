// Splits a fuzz input into a few option bits, a payload, and the chunks the payload is fed in;
// and makes text of an input.
//
// Input layout: byte 0 holds the number of cuts (low 4 bits) and four option bits (high 4
// bits); the next "cuts" bytes are the lengths of the first chunks (0 gives an empty chunk);
// everything after them is the payload, and what the given lengths leave of it is the last
// chunk. So every split of a payload, empty chunks included, is one input away.
#pragma once

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzz {

struct TSplitInput {
    unsigned options = 0;  // 0..15
    QByteArray payload;
    std::vector<QByteArray> chunks;  // joined, they give `payload`
};

inline TSplitInput SplitInput(const uint8_t* data, size_t size) {
    TSplitInput in;
    if (size == 0)
        return in;
    const size_t cuts = std::min<size_t>(data[0] & 0x0Fu, size - 1);
    in.options = data[0] >> 4;
    const uint8_t* lengths = data + 1;
    in.payload = QByteArray(reinterpret_cast<const char*>(data + 1 + cuts),
                            static_cast<qsizetype>(size - 1 - cuts));
    qsizetype at = 0;
    for (size_t i = 0; i < cuts; ++i) {
        const qsizetype n = std::min<qsizetype>(lengths[i], in.payload.size() - at);
        in.chunks.push_back(in.payload.mid(at, n));
        at += n;
    }
    in.chunks.push_back(in.payload.mid(at));
    return in;
}

// Byte 0 picks how the rest becomes text: Latin-1, UTF-8, or raw UTF-16 code units (lone
// surrogates and all).
inline QString TextOf(const uint8_t* data, size_t size) {
    if (size == 0)
        return QString();
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const auto n = static_cast<qsizetype>(size - 1);
    switch (data[0] % 3) {
        case 0:
            return QString::fromLatin1(rest, n);
        case 1:
            return QString::fromUtf8(rest, n);
        default: {
            QString s(n / 2, Qt::Uninitialized);
            std::memcpy(s.data(), rest, static_cast<size_t>(n / 2) * 2);
            return s;
        }
    }
}

}  // namespace fuzz

// Stops the run with a message when a property does not hold; libFuzzer saves the input.
#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
