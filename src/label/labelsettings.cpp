#include "label/labelsettings.h"

#include <QRegularExpression>

#include "core/inifile.h"

namespace {

const QString kLabelSection = QStringLiteral("Label");

QString Unusable(const QString& key, const QString& value, const QString& takes) {
    return QStringLiteral("設定ファイルの [Label] %1=%2 は使えません（%3）").arg(key, value, takes);
}

// HOST[:PORT] of a zpl:// printer; an error text, empty when it was taken.
QString TakeZplTarget(const QString& target, TLabelSettings* s) {
    static const QRegularExpression form(QStringLiteral("^([A-Za-z0-9.-]+)(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch m = form.match(target);
    if (!m.hasMatch())
        return QStringLiteral("zpl:// の後はホスト名か IPv4 アドレス、:ポート番号");
    s->host = m.captured(1);
    if (m.hasCaptured(2))
        s->port = m.captured(2).toInt();
    if (s->port < 1 || s->port > 65535)
        return QStringLiteral("ポート番号は 1 から 65535");
    return {};
}

// The Printer= text: the output and its target, or an error text.
QString TakePrinter(const QString& text, TLabelSettings* s) {
    const QString zpl = QStringLiteral("zpl://");
    const QString cups = QStringLiteral("cups:");
    const QString pdf = QStringLiteral("pdf:");
    if (text.startsWith(zpl, Qt::CaseInsensitive)) {
        s->output = TLabelOutput::Zpl;
        return TakeZplTarget(text.mid(zpl.size()), s);
    }
    if (text.startsWith(cups, Qt::CaseInsensitive)) {
        // CUPS names its queues with up to 127 printable characters other than blank, "/", "\"
        // and "#".
        static const QRegularExpression name(QStringLiteral("^(?:(?![/\\\\#])[!-~]){1,127}$"));
        s->output = TLabelOutput::Cups;
        s->queue = text.mid(cups.size());
        if (!name.match(s->queue).hasMatch())
            return QStringLiteral("キュー名は空白・/・\\・# を除く英数字と記号で 127 文字まで");
        return {};
    }
    if (text.startsWith(pdf, Qt::CaseInsensitive)) {
        s->output = TLabelOutput::Pdf;
        s->folder = text.mid(pdf.size());
        if (!s->folder.startsWith(QLatin1Char('/')))
            return QStringLiteral("フォルダは / で始まる絶対パス");
        return {};
    }
    return QStringLiteral("zpl://ホスト:ポート、cups:キュー名、pdf:フォルダ のどれか");
}

// An integer key within [low, high]; an error text when it is there but outside or no integer.
QString TakeInteger(const TIniFile& ini, const char* key, int low, int high, int* value) {
    const QString name = QLatin1String(key);
    const int v = ini.ReadInteger(kLabelSection, name, *value);
    if (!ini.HoldsNonInteger(kLabelSection, name) && v >= low && v <= high) {
        *value = v;
        return {};
    }
    return Unusable(name, ini.ReadString(kLabelSection, name, {}),
                    QStringLiteral("%1 から %2 の整数").arg(low).arg(high));
}

}  // namespace

TLabelSettings ReadLabelSettings(const TIniFile& ini) {
    TLabelSettings s;
    s.printer = ini.ReadString(kLabelSection, QStringLiteral("Printer"), {}).trimmed();
    if (s.printer.isEmpty())
        return s;
    const QString why = TakePrinter(s.printer, &s);
    s.error = why.isEmpty() ? QString() : Unusable(QStringLiteral("Printer"), s.printer, why);
    for (const QString& e : {TakeInteger(ini, "Copies", 1, 99, &s.copies),
                             TakeInteger(ini, "WidthMm", 10, 200, &s.widthMm),
                             TakeInteger(ini, "HeightMm", 10, 200, &s.heightMm),
                             TakeInteger(ini, "Dpi", 100, 600, &s.dpi)}) {
        if (s.error.isEmpty())
            s.error = e;
    }
    return s;
}
