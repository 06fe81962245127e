#pragma once

#include "tests/testfile.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace ORVIK {

// A netsh command for its lifetime that records its arguments and prints the given output; given a
// null output, the command is missing. Elsewhere it is a script in a folder put first on PATH (all
// of PATH for a missing command, so that no real netsh answers). On Windows it is the stand-in
// netsh.exe in the system folder of the tests' Wine prefix, where the scan starts it by its full
// path; it reads its output from a file named in the environment and answers as a missing command
// does without one.
class FakeNetsh
{
public:
    explicit FakeNetsh(const QByteArray &output = {})
    {
        const QByteArray dir = QFile::encodeName(m_dir.path());
        const QString file = m_dir.filePath(QStringLiteral("netsh"));
#ifdef _WIN32
        if (!output.isNull())
            qputenv("ORVIK_NETSH_OUTPUT", QFile::encodeName(file));
        qputenv("ORVIK_NETSH_ARGUMENTS", dir + "/arguments");
        const QByteArray text = output;
#else
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", output.isNull() ? dir : dir + ':' + m_savedPath);
        // The script holds the output, which ends in a line break, as a here-document.
        const QByteArray text =
            "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir + "/arguments'\ncat <<'END'\n" + output + "END\n";
#endif
        if (!output.isNull() && !(writeFile(file, text) &&
                                  QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)))
            qFatal("cannot write the stand-in netsh's output");
    }
    ~FakeNetsh()
    {
#ifdef _WIN32
        qunsetenv("ORVIK_NETSH_OUTPUT");
        qunsetenv("ORVIK_NETSH_ARGUMENTS");
#else
        qputenv("PATH", m_savedPath);
#endif
    }
    Q_DISABLE_COPY(FakeNetsh)

    // The arguments of the last run, one per entry; empty when it did not run.
    QStringList arguments() const
    {
        QFile file(m_dir.filePath(QStringLiteral("arguments")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
};

} // namespace ORVIK
