#include "apps/orvik/cli/displaycheck.h"

#include "apps/orvik/cli/errorline.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace ORVIK {

namespace {

QtMessageHandler g_previous = nullptr;
const char *g_command = "";

void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg && message.contains(QLatin1String("platform plugin"))) {
        const QByteArray display =
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? qgetenv("DISPLAY") : qgetenv("WAYLAND_DISPLAY");
        const QByteArray line = ErrorLine::line(QStringLiteral("%1 cannot reach the display \"%2\" to show its window")
                                                    .arg(QLatin1String(g_command), QString::fromLocal8Bit(display)))
                                    .toLocal8Bit();
        std::fprintf(stderr, "%s\n", line.constData());
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_previous)
        g_previous(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

void DisplayCheck::arm(const char *command)
{
    g_command = command;
    g_previous = qInstallMessageHandler(&handle);
}

void DisplayCheck::disarm()
{
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
}

} // namespace ORVIK
