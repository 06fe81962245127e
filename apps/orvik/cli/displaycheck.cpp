#include "apps/orvik/cli/displaycheck.h"

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
        std::fprintf(stderr, "orvik: %s cannot reach the display \"%s\" to show its window\n", g_command,
                     display.constData());
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
