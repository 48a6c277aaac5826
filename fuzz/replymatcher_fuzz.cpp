// The reply matcher fed a board's bytes in pieces, as the links' waits feed it (a pass after
// each piece, at once again after a pass that progressed), against a model that reads all the
// bytes at once: the same verdict and the same line, wherever the pieces were cut. Each pass
// gets a buffer of exactly the bytes received, so a read beyond them is a heap overflow.
//
// Input layout: byte 0 picks the matcher (low 2 bits) and the expected text's length (next 2
// bits, plus 1); byte 1 is the skip, the start or the minimum; then the expected text; the rest
// is split as chunks.h describes.
#include <memory>

#include "board/boardlink.h"
#include "chunks.h"

namespace {

enum class Kind { At, AtMark, Line, ZeroLine };

struct TVerdict {
    bool done = false;
    bool matched = false;
    QString line;
};

// The answer read from all of `bytes` at once.
TVerdict Model(Kind kind, int pos, const QByteArray& expected, const QByteArray& bytes) {
    TVerdict v;
    const auto n = static_cast<int>(bytes.size());
    const auto e = static_cast<int>(expected.size());
    int start = -1;  // where a line starts, after its ">"
    switch (kind) {
        case Kind::At:
            v.done = n >= pos + e;
            v.matched = v.done && bytes.mid(pos, e) == expected;
            return v;
        case Kind::AtMark: {
            const auto mark = static_cast<int>(bytes.indexOf('>', pos));
            v.done = mark >= 0 && n >= mark + e;
            v.matched = v.done && bytes.mid(mark, e) == expected;
            return v;
        }
        case Kind::Line:
            start = bytes.contains('>') ? static_cast<int>(bytes.indexOf('>')) + 1 : -1;
            break;
        case Kind::ZeroLine:
            if (n < pos)
                return v;  // not looked for yet
            for (int i = 0; i + 1 < n && start < 0; ++i) {
                if (bytes[i] == '>' && bytes[i + 1] == '0')
                    start = i + 1;
            }
            break;
    }
    const auto end = start < 0 ? -1 : static_cast<int>(bytes.indexOf('\r', start));
    if (end >= 0) {
        v.done = v.matched = true;
        v.line = QString::fromLatin1(bytes.mid(start, end - start));
    }
    return v;
}

TReplyMatcher Make(Kind kind, int pos, const QByteArray& expected) {
    switch (kind) {
        case Kind::At:
            return TReplyMatcher::At(pos, expected);
        case Kind::AtMark:
            return TReplyMatcher::AtMark(pos, '>', expected);
        case Kind::Line:
            return TReplyMatcher::ReplyLine();
        case Kind::ZeroLine:
            break;
    }
    return TReplyMatcher::ZeroReplyLine(pos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const auto kind = static_cast<Kind>(data[0] & 3u);
    const size_t expectedLength = std::min<size_t>(((data[0] >> 2) & 3u) + 1, size - 2);
    const int pos = data[1];
    const QByteArray expected(reinterpret_cast<const char*>(data + 2),
                              static_cast<qsizetype>(expectedLength));
    const fuzz::TSplitInput in =
        fuzz::SplitInput(data + 2 + expectedLength, size - 2 - expectedLength);

    TReplyMatcher matcher = Make(kind, pos, expected);
    TVerdict got;
    int count = 0;
    // The wait makes one pass at least, on what has come so far (maybe nothing).
    const std::vector<QByteArray> chunks =
        in.chunks.empty() ? std::vector<QByteArray>{QByteArray()} : in.chunks;
    for (const QByteArray& chunk : chunks) {
        count += static_cast<int>(chunk.size());
        const std::unique_ptr<char[]> received(new char[static_cast<size_t>(count)]);
        std::copy(in.payload.begin(), in.payload.begin() + count, received.get());
        TPass pass = TPass::Progressed;
        // A pass that progressed is followed at once by another; a matcher that kept saying so
        // would spin the wait.
        for (int passes = 0; pass == TPass::Progressed; ++passes) {
            FUZZ_CHECK(passes < 4);
            pass = matcher.Step(received.get(), count);
        }
        if (pass == TPass::Done || pass == TPass::DoneUnlessLate) {
            // Only a line's end may still lose to the time-out; a compared answer never does.
            FUZZ_CHECK((pass == TPass::DoneUnlessLate) ==
                       (kind == Kind::Line || kind == Kind::ZeroLine));
            got.done = true;
            break;
        }
    }
    if (got.done) {
        got.matched = matcher.Matched();
        got.line = matcher.Line();
    }
    const TVerdict want = Model(kind, pos, expected, in.payload);
    FUZZ_CHECK(got.done == want.done);
    FUZZ_CHECK(got.matched == want.matched);
    FUZZ_CHECK(got.line == want.line);
    return 0;
}
