// The setting table's line builder and reply parser, each setting in turn:
// - any record within the dialogs' ranges: the value a line sends, read back as a reply, is
//   whole (CheckReply), gives the members it was built from, and is written the same again;
// - any text as a reply: a whole one parses without an error into values whose text is whole
//   and parses to the same values again; any other is told by ReplyFaultText and may only raise
//   the conversion error when parsed.
//
// Input layout: byte 0 picks how the rest is decoded into the text (fuzz::TextOf); the record's
// members are taken from the first bytes, each brought into its setting's range.
#include <QString>
#include <array>
#include <cstring>

#include "board/commandline.h"
#include "board/settingtable.h"
#include "chunks.h"
#include "core/exceptions.h"
#include "core/settings.h"

namespace {

// The i-th four bytes of the input as a number in min..max (zero-padded).
int MemberOf(const uint8_t* data, size_t size, size_t i, int min, int max) {
    uint8_t raw[4] = {};
    for (size_t k = 0; k < 4 && 4 * i + k < size; ++k)
        raw[k] = data[4 * i + k];
    uint32_t v = 0;
    std::memcpy(&v, raw, sizeof v);
    const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(max) - min) + 1;
    return static_cast<int>(min + static_cast<int64_t>(v % span));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TBoardParams p;
    size_t next = 0;
    for (const TBoardSetting& s : kBoardSettings) {
        for (int m = 0; m < s.MemberCount(); ++m)
            p.*s.members[static_cast<size_t>(m)] = MemberOf(data, size, next++, s.min, s.max);
    }
    const QString text = fuzz::TextOf(data, size);

    for (const TBoardSetting& s : kBoardSettings) {
        // Built, then read back.
        const QString sent = SettingValueText(s, p);
        FUZZ_CHECK(CheckReply(s, sent) == TReplyFault::None);
        const TReplyValues back = ParseReply(s, sent);
        std::vector<int> members;
        for (int m = 0; m < s.MemberCount(); ++m)
            members.push_back(p.*s.members[static_cast<size_t>(m)]);
        FUZZ_CHECK(MemberValuesOfReply(s, back) == members);
        FUZZ_CHECK(ReplyText(s, back) == sent);
        FUZZ_CHECK(BuildCommandLine(s.keyword, p) ==
                   QByteArray(s.keyword) + '=' + sent.toLatin1() + "\r\n");

        // Any text as its reply.
        if (CheckReply(s, text) == TReplyFault::None) {
            FUZZ_CHECK(ReplyFaultText(s, text).isEmpty());
            const TReplyValues values = ParseReply(s, text);
            const QString again = ReplyText(s, values);
            FUZZ_CHECK(CheckReply(s, again) == TReplyFault::None);
            FUZZ_CHECK(ParseReply(s, again) == values);
            // A whole value lies within the range the dialog holds (a switch is on for any
            // value but 0).
            if (s.form != TSettingForm::Switch) {
                for (int v : MemberValuesOfReply(s, values))
                    FUZZ_CHECK(v >= s.min && v <= s.max);
            }
        } else {
            FUZZ_CHECK(ReplyFaultText(s, text).startsWith(QLatin1String(s.keyword) +
                                                          QLatin1String(": answer '")));
            try {
                ParseReply(s, text);
            } catch (const EConvertError&) {
                // a group that is not a decimal integer
            }
        }
    }
    return 0;
}
