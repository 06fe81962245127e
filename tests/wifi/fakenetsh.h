#pragma once

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
#ifdef _WIN32
        QFile file(m_dir.filePath(QStringLiteral("output")));
        m_valid = m_dir.isValid() && (output.isNull() || (file.open(QIODevice::WriteOnly) && file.write(output) >= 0));
        if (!output.isNull())
            qputenv("ORVIK_NETSH_OUTPUT", QFile::encodeName(file.fileName()));
        qputenv("ORVIK_NETSH_ARGUMENTS", dir + "/arguments");
#else
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", output.isNull() ? dir : dir + ':' + m_savedPath);
        // The script holds the output, which ends in a line break, as a here-document.
        const QByteArray text =
            "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir + "/arguments'\ncat <<'END'\n" + output + "END\n";
        QFile script(m_dir.filePath(QStringLiteral("netsh")));
        m_valid = m_dir.isValid() && (output.isNull() || (script.open(QIODevice::WriteOnly) && script.write(text) > 0 &&
                                                          script.setPermissions(QFile::ReadOwner | QFile::ExeOwner)));
#endif
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

    bool isValid() const
    {
        return m_valid;
    }
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
    bool m_valid = false;
};

} // namespace ORVIK
