#include "label/cupsqueue.h"

#include <cups/cups.h>

#include <memory>

namespace {

using THttp = std::unique_ptr<http_t, decltype(&httpClose)>;

// Called by libcups when the server has been silent for kCupsReplyMs: give up.
int GiveUp(http_t*, void*) {
    return 0;
}

QString CupsError() {
    return QString::fromUtf8(cupsLastErrorString());
}

}  // namespace

TLabelOutcome PrintOnCupsQueue(const QString& queue, const QByteArray& pdf, const QString& title) {
    auto failed = [&queue](const QString& what) {
        return TLabelOutcome::Failed(
            QStringLiteral("cups"),
            QStringLiteral("CUPS のキュー %1 %2: %3").arg(queue, what, CupsError()));
    };
    const QByteArray name = queue.toUtf8();
    THttp http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                            kCupsConnectMs, nullptr),
               &httpClose);
    if (!http)
        return failed(QStringLiteral("のサーバー %1 に接続できません").arg(cupsServer()));
    httpSetTimeout(http.get(), kCupsReplyMs / 1000.0, &GiveUp, nullptr);
    const int job =
        cupsCreateJob(http.get(), name.constData(), title.toUtf8().constData(), 0, nullptr);
    if (job == 0)
        return failed(QStringLiteral("にジョブを作れません"));
    const bool sent =
        cupsStartDocument(http.get(), name.constData(), job, title.toUtf8().constData(),
                          CUPS_FORMAT_PDF, 1) == HTTP_STATUS_CONTINUE &&
        cupsWriteRequestData(http.get(), pdf.constData(), static_cast<size_t>(pdf.size())) ==
            HTTP_STATUS_CONTINUE &&
        cupsFinishDocument(http.get(), name.constData()) == IPP_STATUS_OK;
    if (!sent) {
        const TLabelOutcome outcome = failed(QStringLiteral("にラベルを送れません"));
        cupsCancelJob2(http.get(), name.constData(), job, 0);
        return outcome;
    }
    return TLabelOutcome::Ok(
        QStringLiteral("ラベルを CUPS のキュー %1 に送りました（ジョブ %2）").arg(queue).arg(job));
}
