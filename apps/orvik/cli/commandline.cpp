#include "apps/orvik/cli/commandline.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
// windows.h first: shellapi.h relies on its types.
#include <shellapi.h>
#endif

namespace ORVIK {

QStringList CommandLine::arguments(int remaining)
{
    QStringList arguments = QCoreApplication::arguments();
#ifdef Q_OS_WIN
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return arguments;
    QStringList fromCommandLine;
    for (int i = 0; i < count; ++i) {
        const QString argument = QString::fromWCharArray(wide[i]);
        if (i == 0 || argument != QLatin1String("--verbose"))
            fromCommandLine << argument;
    }
    LocalFree(wide);
    if (fromCommandLine.size() == remaining)
        arguments = fromCommandLine;
#else
    Q_UNUSED(remaining)
#endif
    return arguments;
}

} // namespace ORVIK
