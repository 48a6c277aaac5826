#include "label/labelprinter.h"

#include <QDir>
#include <QFileInfo>

#include "core/inifile.h"
#include "core/wholefile.h"
#include "label/labelrender.h"
#include "label/zpl.h"
#include "label/zplprinter.h"

namespace {

// Writes `pdf` whole as FOLDER/<MAC address>.pdf, replacing the label printed before for the
// same address (a reprint).
TLabelOutcome WritePdfLabel(const QString& folder, const QString& mac, const QByteArray& pdf) {
    if (!QFileInfo(folder).isDir())
        return TLabelOutcome::Failed(
            QStringLiteral("folder"),
            QStringLiteral("ラベルのフォルダ %1 がありません").arg(folder));
    const QString path = QDir(folder).filePath(mac + QStringLiteral(".pdf"));
    RemoveStaleTemporaries(path);
    const QString error = ReplaceFileWhole(path, pdf);
    if (!error.isEmpty())
        return TLabelOutcome::Failed(
            QStringLiteral("folder"),
            QStringLiteral("ラベルの PDF %1 を書けません: %2").arg(path, error));
    return TLabelOutcome::Ok(QStringLiteral("ラベルを %1 に書きました").arg(path));
}

}  // namespace

TLabelOutcome PrintLabel(const TLabelSettings& s, const TLabelContent& c) {
    const QString settings = QStringLiteral("settings");
    if (!s.error.isEmpty())
        return TLabelOutcome::Failed(settings, s.error);
    if (s.output == TLabelOutput::None)
        return TLabelOutcome::Failed(
            settings,
            QStringLiteral("設定ファイルの [Label] Printer= にラベルの出力先がありません"));
    const QString wrong = CheckLabelContent(c);
    if (!wrong.isEmpty())
        return TLabelOutcome::Failed(QStringLiteral("content"), wrong);
    if (s.output == TLabelOutput::Zpl)
        return TZplPrinter(s.host, s.port).Print(ZplLabelJob(s, c));
    QString error;
    const TLabelRender* render = LoadLabelRender(&error);
    const QByteArray pdf = render ? render->labelPdf(s, c, &error) : QByteArray();
    if (pdf.isEmpty())
        return TLabelOutcome::Failed(QStringLiteral("pdf"), error);
    if (s.output == TLabelOutput::Pdf)
        return WritePdfLabel(s.folder, c.mac, pdf);
    return render->printOnCupsQueue(s.queue, pdf, QStringLiteral("ラベル ") + c.mac);
}
