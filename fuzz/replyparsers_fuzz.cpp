// The parsers of query answers on any text: no crash, no undefined behaviour, no exception but
// the conversion error, and a few properties that hold for every input.
#include <QString>
#include <array>
#include <cstring>

#include "board/commandline.h"
#include "chunks.h"
#include "core/exceptions.h"
#include "core/settings.h"

namespace {

// Four integers taken from the input's first 16 bytes (zero-padded).
std::array<int, 4> IntsOf(const uint8_t* data, size_t size) {
    uint8_t raw[16] = {};
    std::memcpy(raw, data, std::min<size_t>(size, sizeof raw));
    std::array<int, 4> v{};
    std::memcpy(v.data(), raw, sizeof raw);
    return v;
}

int CountSeparators(const QString& s) {
    return static_cast<int>(s.count(QLatin1Char('.')) + s.count(QLatin1Char('-')));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = fuzz::TextOf(data, size);

    // Any character but a hex digit counts 0; a digit appended shifts the rest one place up.
    const int hex = HexGroupValue(text);
    FUZZ_CHECK(HexGroupValue(QStringLiteral("0") + text) == hex);
    FUZZ_CHECK(HexGroupValue(QStringLiteral("g") + text) == hex);
    FUZZ_CHECK(HexGroupValue(text + QStringLiteral("0")) ==
               static_cast<int>(static_cast<uint32_t>(hex) * 16u));

    // Six values only when five separators follow the first character.
    const std::array<int, 6> mac = SplitMacText(text);
    if (mac != std::array<int, 6>{})
        FUZZ_CHECK(CountSeparators(text.mid(1)) >= 5);

    try {
        const std::array<int, 4> ip = SplitIpText(text);
        if (ip != std::array<int, 4>{})
            FUZZ_CHECK(CountSeparators(text.mid(1)) >= 3);
    } catch (const EConvertError&) {
        // a group that is not a decimal integer
    }

    // Round trips: the MAC text of any three bytes values, and an address whose last three
    // numbers are not negative (a "-" would read as a separator).
    const std::array<int, 4> v = IntsOf(data, size);
    TBoardParams p;
    p.MacAddr_1 = v[0];
    p.MacAddr_2 = v[1];
    p.MacAddr_3 = v[2];
    const std::array<int, 6> back = SplitMacText(QString::fromLatin1(MacText(p)));
    FUZZ_CHECK((back == std::array<int, 6>{0x02, 0x5A, 0xC3, v[0], v[1], v[2]}));

    const int b = v[1] & 0x7FFFFFFF, c = v[2] & 0x7FFFFFFF, d = v[3] & 0x7FFFFFFF;
    const QString ipText = DecText(v[0]) + "." + DecText(b) + "-" + DecText(c) + "." + DecText(d);
    FUZZ_CHECK((SplitIpText(ipText) == std::array<int, 4>{v[0], b, c, d}));
    return 0;
}
