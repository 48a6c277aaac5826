// The site plan reader on any bytes:
// - a plan it reads has rows, no own IP address or serial twice, and every value in the form its
//   line writes: put into a record and written again it is the same text, and the values' one
//   text gives them back;
// - a file it refuses gives at least one error, at most the limit, and no plan.
#include <QSet>
#include <cstdlib>

#include "board/settingtable.h"
#include "board/siteplan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TSitePlan plan;
    QStringList errors;
    if (!ParsePlan(bytes, &plan, &errors)) {
        if (errors.isEmpty() || errors.size() > kPlanErrorLimit || !plan.rows.isEmpty())
            std::abort();
        return 0;
    }
    if (plan.rows.isEmpty() || plan.keys.isEmpty() || !errors.isEmpty())
        std::abort();
    QSet<QString> ips, serials;
    for (const TPlanRow& row : plan.rows) {
        if (!row.OwnIp().isEmpty()) {
            if (ips.contains(row.OwnIp()))
                std::abort();
            ips.insert(row.OwnIp());
        }
        if (!row.serial.isEmpty()) {
            if (serials.contains(row.serial))
                std::abort();
            serials.insert(row.serial);
        }
        TBoardParams p;
        ApplyPlanRow(row, &p);
        for (auto it = row.values.begin(); it != row.values.end(); ++it) {
            const TBoardSetting* s = FindSetting(it.key().toLatin1().constData());
            if (!s || SettingValueText(*s, p) != it.value())
                std::abort();
        }
        if (PlanValuesOfText(PlanValuesText(row.values)) != row.values)
            std::abort();
    }
    return 0;
}
