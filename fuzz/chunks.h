// Splits a fuzz input into a few option bits, a payload, and the chunks the payload is fed in.
//
// Input layout: byte 0 holds the number of cuts (low 4 bits) and four option bits (high 4
// bits); the next "cuts" bytes are the lengths of the first chunks (0 gives an empty chunk);
// everything after them is the payload, and what the given lengths leave of it is the last
// chunk. So every split of a payload, empty chunks included, is one input away.
#pragma once

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

}  // namespace fuzz

// Stops the run with a message when a property does not hold; libFuzzer saves the input.
#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)
