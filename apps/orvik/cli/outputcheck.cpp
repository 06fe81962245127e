#include "apps/orvik/cli/outputcheck.h"

#include "apps/orvik/cli/errorline.h"
#include "apps/orvik/cli/terminal.h"
#include "apps/orvik/commandcontext.h"

#include <QFileDevice>

#include <cerrno>

namespace ORVIK {

namespace {

struct Flushed
{
    bool ok = true;
    bool brokenPipe = false;
    QString reason;
};

// QTextStream keeps its own buffer, and its QFile on a C stream has the stream's buffer below it: a
// full disk shows only when the last of them is flushed.
Flushed flushDown(QTextStream &stream)
{
    Flushed result;
    errno = 0;
    stream.flush();
    auto *file = qobject_cast<QFileDevice *>(stream.device());
    const bool written = stream.status() == QTextStream::Ok && (!file || file->flush());
    const int savedErrno = errno;
    if (written)
        return result;
    result.ok = false;
    if (file && file->error() != QFileDevice::NoError && !file->errorString().isEmpty())
        result.reason = file->errorString();
    else
        result.reason = savedErrno != 0 ? qt_error_string(savedErrno) : QStringLiteral("the write was cut short");
    // Qt keeps only the text of the failed write's errno; errno itself may have changed since.
    result.brokenPipe = Terminal::isBrokenPipe(savedErrno) || result.reason == qt_error_string(EPIPE);
    return result;
}

} // namespace

int OutputCheck::finish(QTextStream &out, QTextStream &err, int exitCode)
{
    const int failed = exitCode == ExitOk ? int(ExitFailure) : exitCode;
    const Flushed output = flushDown(out);
    if (!output.ok && !output.brokenPipe)
        ErrorLine::print(err, QStringLiteral("cannot write standard output: ") + output.reason);
    // Standard error has nowhere left to tell its own loss.
    const Flushed errors = flushDown(err);
    return output.ok && errors.ok ? exitCode : failed;
}

} // namespace ORVIK
