#include "apps/orvik/cli/messagefilter.h"

#include <QString>

#include <cstring>

namespace ORVIK {

namespace {

QtMessageHandler g_nextHandler = nullptr;

void filterMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!MessageFilter::isQtChatter(type, context.category, context.file) && g_nextHandler)
        g_nextHandler(type, context, message);
}

} // namespace

bool MessageFilter::isQtChatter(QtMsgType type, const char *category, const char *file)
{
    if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg)
        return false;
    if (category && std::strncmp(category, "qt.", 3) == 0)
        return true;
    return (!category || std::strcmp(category, "default") == 0) && !file;
}

void MessageFilter::install(bool verbose)
{
    if (verbose || !qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        return;
    g_nextHandler = qInstallMessageHandler(&filterMessage);
}

} // namespace ORVIK
