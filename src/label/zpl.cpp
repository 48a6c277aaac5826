#include "label/zpl.h"

#include <QList>
#include <algorithm>
#include <cmath>

#include "label/labelcontent.h"
#include "label/labelsettings.h"
#include "label/qrsymbol.h"

namespace {

// The scalable font's widest characters advance about three quarters of the width asked for.
constexpr double kFontAdvance = 0.75;
constexpr char kStatusStx = '\x02';
constexpr char kStatusEtx = '\x03';

struct TDots {
    double perMm;
    int operator()(double mm) const { return static_cast<int>(std::lround(mm * perMm)); }
};

QByteArray Num(int n) {
    return QByteArray::number(n);
}

// ^FH's form of `text`: printable ASCII as it is, "^", "~", "_" and every other byte as _XX.
QByteArray FieldHex(const QString& text) {
    QByteArray out;
    for (const char c : text.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '^' && c != '~' && c != '_')
            out += c;
        else
            out += '_' + QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
    }
    return out;
}

QByteArray TextField(const TMmBox& box, const QString& text, const TDots& dots) {
    const int height = dots(box.h * 0.8);
    const int chars = std::max(1, static_cast<int>(text.size()));
    const int width =
        std::max(1, std::min(height, static_cast<int>(dots(box.w) / chars / kFontAdvance)));
    return "^FO" + Num(dots(box.x)) + ',' + Num(dots(box.y)) + "^A0N," + Num(height) + ',' +
           Num(width) + "^FH^FD" + FieldHex(text) + "^FS\n";
}

// The MAC address (hexadecimal digits and "-") needs no escape; "MA," asks for level M with the
// printer's automatic choice of the encoding.
QByteArray QrField(const TMmBox& box, const QString& payload, const TDots& dots) {
    const int modules = kMacQrModules + 2 * kQrQuietModules;
    const int magnification = std::clamp(dots(box.w) / modules, 1, 10);
    const int quiet = kQrQuietModules * magnification;
    return "^FO" + Num(dots(box.x) + quiet) + ',' + Num(dots(box.y) + quiet) + "^BQN,2," +
           Num(magnification) + ",M,7^FDMA," + payload.toLatin1() + "^FS\n";
}

bool IsFlag(const QByteArray& field) {
    return field == "0" || field == "1";
}

THostStatus Malformed(const QString& problem) {
    THostStatus s;
    s.state = THostStatus::TState::Malformed;
    s.problem = problem;
    return s;
}

// Reads the line that starts at `*pos`: its body between STX and ETX, the position after its
// CR LF. Returns Complete, Incomplete, or Malformed with the reason in `status`.
THostStatus::TState ReadStatusLine(const QByteArray& in, qsizetype* pos, QByteArray* body,
                                   THostStatus* status) {
    using S = THostStatus::TState;
    const qsizetype start = *pos;
    if (start >= in.size())
        return S::Incomplete;
    if (in[start] != kStatusStx) {
        *status = Malformed(QStringLiteral("行が STX で始まっていません"));
        return S::Malformed;
    }
    qsizetype i = start + 1;
    for (; i < in.size() && in[i] != kStatusEtx; ++i) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (b < 0x20 || b >= 0x7F || i - start > kHostStatusMaxLine) {
            *status = Malformed(QStringLiteral("行に読めないバイトがあるか、行が長すぎます"));
            return S::Malformed;
        }
    }
    const QByteArray end = in.mid(i, 3);
    if (!QByteArray("\x03\r\n").startsWith(end)) {
        *status = Malformed(QStringLiteral("ETX の後が CR LF ではありません"));
        return S::Malformed;
    }
    if (end.size() < 3)
        return S::Incomplete;
    *body = in.mid(start + 1, i - start - 1);
    *pos = i + 3;
    return S::Complete;
}

}  // namespace

QByteArray ZplLabelJob(const TLabelSettings& s, const TLabelContent& c) {
    const TDots dots{s.dpi / 25.4};
    const TLabelLayout layout = LayOutLabel(s.widthMm, s.heightMm);
    const QStringList lines = LabelLines(c);
    QByteArray job =
        "^XA\n^CI28\n^PW" + Num(dots(s.widthMm)) + "\n^LL" + Num(dots(s.heightMm)) + "\n^LH0,0\n";
    job += QrField(layout.qr, c.mac, dots);
    for (int i = 0; i < kLabelLineCount; ++i)
        job += TextField(layout.lines[i], lines[i], dots);
    return job + "^PQ" + Num(s.copies) + "\n^XZ\n";
}

THostStatus ParseHostStatus(const QByteArray& received) {
    using S = THostStatus::TState;
    static const int kFields[3] = {12, 11, 2};
    QList<QByteArray> fields[3];
    qsizetype pos = 0;
    for (int line = 0; line < 3; ++line) {
        THostStatus status;
        QByteArray body;
        const S state = ReadStatusLine(received, &pos, &body, &status);
        if (state != S::Complete)
            return state == S::Malformed ? status : THostStatus{};
        fields[line] = body.split(',');
        if (fields[line].size() < kFields[line])
            return Malformed(QStringLiteral("%1 行目の項目が %2 個しかありません")
                                 .arg(line + 1)
                                 .arg(fields[line].size()));
    }
    if (!IsFlag(fields[0][1]) || !IsFlag(fields[0][2]) || !IsFlag(fields[1][2]))
        return Malformed(
            QStringLiteral("用紙切れ・一時停止・ヘッドの項目が 0 か 1 ではありません"));
    THostStatus s;
    s.state = S::Complete;
    s.paperOut = fields[0][1] == "1";
    s.paused = fields[0][2] == "1";
    s.headOpen = fields[1][2] == "1";
    return s;
}
