#include "dialogs/fonts.h"

#include <QStringList>

QFont LogFont() {
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                   QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("VL Gothic"),
                   QStringLiteral("Noto Sans CJK JP"), QStringLiteral("monospace")});
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(12);
    return f;
}

QFont DialogFont() {
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                   QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAPGothic"),
                   QStringLiteral("sans-serif")});
    f.setPixelSize(12);
    return f;
}
