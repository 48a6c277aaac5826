#include "dialogs/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace {

// The first of `wanted` that this machine has, alone; none of them: all of them and `generic`,
// for the system to stand in. A family the machine lacks is searched for in the system's font
// configuration each time the font meets a new script, and that search is most of the cost of a
// window's first paint; the installed families are listed from what the font database has read
// already.
QStringList InstalledFamily(const QStringList& wanted, const QString& generic) {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : wanted) {
        if (installed.contains(family))
            return {family};
    }
    return wanted + QStringList{generic};
}

}  // namespace

QFont LogFont() {
    QFont f;
    f.setFamilies(InstalledFamily({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                                   QStringLiteral("Noto Sans Mono CJK JP"),
                                   QStringLiteral("VL Gothic"), QStringLiteral("Noto Sans CJK JP")},
                                  QStringLiteral("monospace")));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(12);
    return f;
}

QFont DialogFont() {
    QFont f;
    f.setFamilies(
        InstalledFamily({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                         QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic")},
                        QStringLiteral("sans-serif")));
    f.setPixelSize(12);
    return f;
}
