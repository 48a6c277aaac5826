#include "cli/output.h"

#include <QJsonDocument>
#include <cerrno>
#include <cstdio>

#include "core/posixio.h"

namespace {

// The first failed write to standard output: its cause, or empty while every write went through.
QString g_outputError;
// PrintLine's lines go to standard error: standard output holds the JSON document alone.
bool g_jsonOutput = false;

void WriteErr(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

}  // namespace

void WriteOut(const QByteArray& bytes) {
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) !=
            static_cast<size_t>(bytes.size()) ||
        std::fflush(stdout) != 0) {
        LoseOutput(errno);
        clearerr(stdout);
    }
}

namespace {

// The text as PrintLine writes it.
QString EscapedLine(const QString& text) {
    // A byte from a board or a reader must not start a line of its own or hide as nothing.
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\')
            out += QStringLiteral("\\\\");
        else if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u == '\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7F)
            out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

}  // namespace

void LoseOutput(int error) {
    if (g_outputError.isEmpty())
        g_outputError = ErrnoText(error);
}

void KeepOutputForJson() {
    g_jsonOutput = true;
}

void WriteJson(const QJsonObject& object) {
    WriteOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void PrintLine(const QString& line) {
    const QByteArray bytes = EscapedLine(line).toUtf8() + '\n';
    if (g_jsonOutput)
        WriteErr(bytes);
    else
        WriteOut(bytes);
}

void PrintError(const QString& line) {
    WriteErr("netboard-cli: " + EscapedLine(line).toUtf8() + '\n');
}

QString OutputError() {
    return g_outputError;
}
