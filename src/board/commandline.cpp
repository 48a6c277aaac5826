#include "board/commandline.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "core/exceptions.h"
#include "core/settings.h"

QByteArray MacText(const TBoardParams& p) {
    return SettingValueText(*SettingOfMember(&TBoardParams::MacAddr_1), p).toLatin1();
}

namespace {

// The lines that are no setting, with the labels of their outcome lines ("exit" has none).
struct ActionWord {
    const char* word;
    const char* label;
};
const ActionWord kActions[] = {{"save", "SAVE"}, {"exit", nullptr}, {"qelmoT4", "qelmoT4"}};

const ActionWord* FindAction(const char* word) {
    for (const ActionWord& a : kActions)
        if (std::strcmp(a.word, word) == 0)
            return &a;
    return nullptr;
}

[[noreturn]] void Unknown(const char* keyword) {
    throw std::invalid_argument(std::string("unknown board keyword: ") + keyword);
}

}  // namespace

QByteArray BuildCommandLine(const char* keyword, const TBoardParams& p) {
    QByteArray line;
    if (const TBoardSetting* s = FindSetting(keyword))
        line = QByteArray(s->keyword) + '=' + SettingValueText(*s, p).toLatin1();
    else if (FindAction(keyword))
        line = keyword;
    else
        Unknown(keyword);
    return line + "\r\n";
}

QString OutcomeLine(const char* keyword, bool ok) {
    // "mask=" and the query "mask" share their label.
    const TBoardSetting* s = FindSetting(keyword);
    const ActionWord* a = s ? nullptr : FindAction(keyword);
    if (!s && (!a || !a->label))
        Unknown(keyword);
    return QString::fromUtf8(s ? s->label : a->label) + QChar(0x3000) +
           (ok ? QStringLiteral("OK!!") : QStringLiteral("NG!!"));
}
