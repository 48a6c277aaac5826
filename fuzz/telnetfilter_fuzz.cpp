// The telnet negotiation filter fed the same bytes whole and in chunks: the data part, the
// answers and the final state must not depend on where the chunks were cut.
#include "chunks.h"
#include "telnet/telnetfilter.h"

namespace {

struct TRun {
    QByteArray data;
    std::vector<QByteArray> answers;
    bool sawIac = false;
};

void Add(TRun* run, TTelnetFilter::Result r) {
    run->data += r.data;
    for (QByteArray& a : r.answers)
        run->answers.push_back(std::move(a));
    run->sawIac = run->sawIac || r.sawIac;
}

// A terminal with a 255 in it checks the doubling inside the TERMINAL-TYPE answer.
const char* const kTerminals[4] = {"dumb", "", "x\xffy", "vt100"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::TSplitInput in = fuzz::SplitInput(data, size);
    const QByteArray terminal(kTerminals[in.options & 3u]);

    TTelnetFilter whole(terminal);
    TRun a;
    Add(&a, whole.Feed(in.payload));

    TTelnetFilter split(terminal);
    TRun b;
    for (const QByteArray& chunk : in.chunks)
        Add(&b, split.Feed(chunk));

    FUZZ_CHECK(a.data == b.data);
    FUZZ_CHECK(a.answers == b.answers);
    FUZZ_CHECK(a.sawIac == b.sawIac);
    FUZZ_CHECK(whole.CurrentState() == split.CurrentState());
    FUZZ_CHECK(whole.ParameterSize() == split.ParameterSize());
    FUZZ_CHECK(whole.ParameterSize() <= TTelnetFilter::kMaxParameter);

    // Without an IAC nothing is a command.
    if (!in.payload.contains('\xff')) {
        FUZZ_CHECK(a.data == in.payload && a.answers.empty() && !a.sawIac);
    }
    FUZZ_CHECK(a.data.size() <= in.payload.size());
    // Every answer is an option answer or the terminal type, each starting with IAC.
    for (const QByteArray& ans : a.answers) {
        FUZZ_CHECK(ans.size() >= 3 && static_cast<uint8_t>(ans[0]) == telnet::kIac);
        const auto kind = static_cast<uint8_t>(ans[1]);
        FUZZ_CHECK(kind == telnet::kSb || (ans.size() == 3 && kind >= telnet::kWill));
    }
    // After a reset the filter is as new: the payload gives what a fresh filter gives.
    split.Reset();
    TRun c;
    Add(&c, split.Feed(in.payload));
    FUZZ_CHECK(c.data == a.data && c.answers == a.answers);
    return 0;
}
