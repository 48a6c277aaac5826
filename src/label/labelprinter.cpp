#include "label/labelprinter.h"

#include "label/cupsqueue.h"
#include "label/labelpdf.h"
#include "label/zpl.h"
#include "label/zplprinter.h"

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
    const QByteArray pdf = LabelPdf(s, c, &error);
    if (pdf.isEmpty())
        return TLabelOutcome::Failed(QStringLiteral("pdf"), error);
    if (s.output == TLabelOutput::Pdf)
        return WritePdfLabel(s.folder, c.mac, pdf);
    return PrintOnCupsQueue(s.queue, pdf, QStringLiteral("ラベル ") + c.mac);
}
