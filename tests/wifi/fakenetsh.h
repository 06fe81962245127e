#pragma once

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace ORVIK {

// Puts a folder first on PATH for its lifetime. Given an output, it holds a `netsh` script that
// records its arguments and prints that output; given a null one the folder is empty and is all
// of PATH, so the command is missing and no real netsh can answer.
class FakeNetsh
{
public:
    explicit FakeNetsh(const QByteArray &output = {}) : m_savedPath(qgetenv("PATH"))
    {
        const QByteArray dir = QFile::encodeName(m_dir.path());
        qputenv("PATH", output.isNull() ? dir : dir + ':' + m_savedPath);
        // The script holds the output, which ends in a line break, as a here-document.
        const QByteArray text =
            "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir + "/arguments'\ncat <<'END'\n" + output + "END\n";
        QFile script(m_dir.filePath(QStringLiteral("netsh")));
        m_valid = m_dir.isValid() && (output.isNull() || (script.open(QIODevice::WriteOnly) && script.write(text) > 0 &&
                                                          script.setPermissions(QFile::ReadOwner | QFile::ExeOwner)));
    }
    ~FakeNetsh() { qputenv("PATH", m_savedPath); }
    FakeNetsh(const FakeNetsh &) = delete;
    FakeNetsh &operator=(const FakeNetsh &) = delete;

    bool isValid() const { return m_valid; }
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
