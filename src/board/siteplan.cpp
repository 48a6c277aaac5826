#include "board/siteplan.h"

#include <QHash>
#include <QStringDecoder>

#include "board/settingtable.h"
#include "core/text.h"

namespace {

// The text of a file: UTF-8 when it is valid UTF-8 (a byte order mark skipped), else Shift_JIS.
QString DecodePlanText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    return utf8.hasError() ? DecodeShiftJis(bytes) : text;
}

// Why `value` is no value of setting `s`, empty when it is one; its form as the line writes it
// in `normal`.
QString ValueFault(const TBoardSetting& s, const QString& value, QString* normal) {
    const auto fault = [&]() -> QString {
        switch (s.form) {
            case TSettingForm::IpAddress:
                return QStringLiteral("is not an IPv4 address A.B.C.D (0 to 255 each)");
            case TSettingForm::SpeedList:
                return QStringLiteral("is not a speed code (15: 9600, 16: 19200, 17: 38400 bit/s)");
            default:
                return QStringLiteral("is not a number from %1 to %2").arg(s.min).arg(s.max);
        }
    };
    if (value.isEmpty())
        return QStringLiteral("has no value");
    if (CheckReply(s, value) != TReplyFault::None)
        return fault();
    const std::vector<int> members = MemberValuesOfReply(s, ParseReply(s, value));
    TBoardParams p;
    for (size_t i = 0; i < members.size(); ++i) {
        if (members[i] < s.min || members[i] > s.max)
            return fault();
        p.*s.members[i] = members[i];
    }
    *normal = SettingValueText(s, p);
    return {};
}

// The plan's column of each header field: a setting's keyword, "serial" or "note".
struct TColumn {
    QString name;
    const TBoardSetting* setting = nullptr;  // null for serial and note
};

}  // namespace

bool ParsePlan(const QByteArray& bytes, TSitePlan* plan, QStringList* errors) {
    *plan = {};
    const auto fail = [&](int line, int column, const QString& what) {
        if (errors->size() < kPlanErrorLimit)
            errors->append(
                column > 0 ? QStringLiteral("line %1, column %2 %3").arg(line).arg(column).arg(what)
                           : QStringLiteral("line %1: %2").arg(line).arg(what));
    };
    const int before = static_cast<int>(errors->size());
    const QStringList lines = DecodePlanText(bytes).split(QLatin1Char('\n'));
    // The header: the first line that holds anything.
    int at = 0;
    while (at < lines.size() && lines[at].trimmed().isEmpty())
        ++at;
    if (at == lines.size()) {
        fail(1, 0, QStringLiteral("the file is empty; the first line names the columns"));
        return false;
    }
    QStringList header;
    if (!SplitCsv(lines[at].trimmed(), &header))
        fail(at + 1, 0, QStringLiteral("a quoted field is not closed"));
    QList<TColumn> columns;
    QHash<QString, int> seen;
    for (int c = 0; c < header.size(); ++c) {
        const QString name = header[c].trimmed().toLower();
        TColumn column{name, nullptr};
        if (name != QLatin1String("serial") && name != QLatin1String("note")) {
            for (const char* key : kPlanKeys) {
                if (name == QLatin1String(key))
                    column.setting = FindSetting(key);
            }
            if (!column.setting)
                fail(at + 1, c + 1,
                     QStringLiteral("('%1') is no column of a plan: l_ip, l_pt, f_ip, f_pt, "
                                    "mask, conn, bps, timv, keep, timr, serial or note")
                         .arg(header[c]));
        }
        if (seen.contains(name))
            fail(at + 1, c + 1,
                 QStringLiteral("('%1') is given twice, first as column %2")
                     .arg(name)
                     .arg(seen[name] + 1));
        seen.insert(name, c);
        columns.append(column);
    }
    for (const char* key : kPlanKeys) {
        if (seen.contains(QLatin1String(key)))
            plan->keys.append(QLatin1String(key));
    }
    if (plan->keys.isEmpty() && errors->size() == before)
        fail(at + 1, 0, QStringLiteral("the header names no setting (l_ip, l_pt, ...)"));
    QHash<QString, int> ownIps;   // each own IP address and the line that gives it
    QHash<QString, int> serials;  // each serial and its line
    // A value that must stand on one line only: refused, naming that line, when it stood on one
    // before. `what` names the value as %1 and the earlier line as %2 (both put in at once, so
    // that a value holding "%2" stays as it is).
    const auto once = [&](QHash<QString, int>* seenOn, const QString& value, int line, int column,
                          const QString& what) {
        if (const auto it = seenOn->constFind(value); it != seenOn->constEnd())
            fail(line, column, what.arg(value, QString::number(*it)));
        else
            seenOn->insert(value, line);
    };
    for (int i = at + 1; i < lines.size(); ++i) {
        const int line = i + 1;
        QString text = lines[i];
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        if (text.trimmed().isEmpty())
            continue;
        QStringList fields;
        if (!SplitCsv(text, &fields)) {
            fail(line, 0, QStringLiteral("a quoted field is not closed"));
            continue;
        }
        if (fields.size() != columns.size()) {
            fail(line, 0,
                 QStringLiteral("%1 fields where the header names %2")
                     .arg(fields.size())
                     .arg(columns.size()));
            continue;
        }
        TPlanRow row;
        row.number = static_cast<int>(plan->rows.size()) + 1;
        for (int c = 0; c < columns.size(); ++c) {
            const TColumn& column = columns[c];
            const QString value = fields[c].trimmed();
            if (column.name == QLatin1String("note")) {
                row.note = value;
            } else if (column.name == QLatin1String("serial")) {
                row.serial = value;
                if (!value.isEmpty())
                    once(&serials, value, line, c + 1,
                         QStringLiteral("(serial): '%1' is the serial of line %2 too"));
            } else if (column.setting) {
                QString normal;
                const QString fault = ValueFault(*column.setting, value, &normal);
                if (!fault.isEmpty()) {
                    fail(line, c + 1,
                         QStringLiteral("(%1): '%2' %3").arg(column.name, value, fault));
                    continue;
                }
                row.values.insert(column.name, normal);
                if (column.name == QLatin1String("l_ip"))
                    once(&ownIps, normal, line, c + 1,
                         QStringLiteral("(l_ip): %1 is the own IP address of line %2 too"));
            }
        }
        plan->rows.append(row);
    }
    if (plan->rows.isEmpty() && errors->size() == before)
        fail(at + 1, 0, QStringLiteral("the plan has no row after its header"));
    if (errors->size() != before) {
        *plan = {};
        return false;
    }
    return true;
}

void ApplyPlanRow(const TPlanRow& row, TBoardParams* p) {
    for (auto it = row.values.begin(); it != row.values.end(); ++it) {
        const TBoardSetting* s = FindSetting(it.key().toLatin1().constData());
        if (!s)
            continue;
        const std::vector<int> members = MemberValuesOfReply(*s, ParseReply(*s, it.value()));
        for (size_t i = 0; i < members.size(); ++i)
            p->*s->members[i] = members[i];
    }
}

void CopyPlanSettings(const QStringList& keys, const TBoardParams& from, TBoardParams* to) {
    for (const QString& key : keys) {
        const TBoardSetting* s = FindSetting(key.toLatin1().constData());
        for (int i = 0; s && i < s->MemberCount(); ++i)
            to->*s->members[static_cast<size_t>(i)] = from.*s->members[static_cast<size_t>(i)];
    }
}

QString PlanValuesText(const TSentValues& values) {
    QStringList parts;
    for (const char* key : kPlanKeys) {
        const auto it = values.find(QLatin1String(key));
        if (it != values.end())
            parts << QLatin1String(key) + QLatin1Char('=') + *it;
    }
    return parts.join(QLatin1Char(';'));
}

TSentValues PlanValuesOfText(const QString& text) {
    TSentValues values;
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = part.section(QLatin1Char('='), 0, 0);
        for (const char* k : kPlanKeys) {
            if (key == QLatin1String(k))
                values.insert(key, part.section(QLatin1Char('='), 1));
        }
    }
    return values;
}
