#include "app/displaycheck.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the Qt platform was asked for: "-platform NAME" on the command line, else QT_QPA_PLATFORM;
// empty for Qt's default (the window system DISPLAY or WAYLAND_DISPLAY names).
QString g_platform;
QtMessageHandler g_previous = nullptr;

const char kUseCli[] =
    "画面のある環境（X または Wayland）で起動してください。画面なしでボードを設定するには "
    "netboard-cli を使います。";

void Tell(const QString& what) {
    const QByteArray text =
        QStringLiteral("netboard-config: %1%2\n").arg(what, QString::fromUtf8(kUseCli)).toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
}

QString Variable(const char* name) {
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name)
                                           : QStringLiteral("（なし）");
}

// While the QApplication is being made: Qt's fatal error there is a platform plugin that could
// not start (a display that does not answer, a plugin that cannot load).
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        Tell(QStringLiteral("画面を開けません。Qt のプラットフォーム「%1」を起動できませんでした"
                            "（DISPLAY=%2、WAYLAND_DISPLAY=%3）。")
                 .arg(g_platform.isEmpty() ? QStringLiteral("既定") : g_platform,
                      Variable("DISPLAY"), Variable("WAYLAND_DISPLAY")));
        // Qt aborts once the handler returns; nothing of the program has started yet.
        std::_Exit(1);
    }
    if (g_previous) {
        g_previous(type, context, text);
        return;
    }
    const QByteArray line = qFormatLogMessage(type, context, text).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
}

}  // namespace

bool DisplayAvailable(int argc, char** argv) {
    g_platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i) {
        // Qt takes "-platform NAME" (and "--platform NAME") before the environment.
        if ((std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) &&
            i + 1 < argc)
            g_platform = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (g_platform.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        Tell(
            QStringLiteral("画面がありません: 環境変数 DISPLAY も WAYLAND_DISPLAY も設定されて"
                           "いないため、ウィンドウを開けません。"));
        return false;
    }
    g_previous = qInstallMessageHandler(StartupMessages);
    return true;
}

void DisplayOpened() {
    qInstallMessageHandler(g_previous);
}
