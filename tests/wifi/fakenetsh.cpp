#include "tests/wifi/fakenetsh.h"

#include <QDir>
#include <QFile>

namespace ORVIK {

FakeNetsh::FakeNetsh() : m_savedPath(qgetenv("PATH"))
{
    m_valid = m_dir.isValid();
    qputenv("PATH", QFile::encodeName(m_dir.path()));
}

FakeNetsh::FakeNetsh(const QByteArray &output) : m_savedPath(qgetenv("PATH"))
{
    if (!m_dir.isValid())
        return;
    QFile outputFile(m_dir.filePath(QStringLiteral("output")));
    QFile script(m_dir.filePath(QStringLiteral("netsh")));
    if (!outputFile.open(QIODevice::WriteOnly) || outputFile.write(output) != output.size() ||
        !script.open(QIODevice::WriteOnly))
        return;
    const QByteArray dir = QFile::encodeName(m_dir.path());
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir + "/arguments'\nexec cat '" + dir + "/output'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", dir + ':' + m_savedPath);
    m_valid = true;
}

FakeNetsh::~FakeNetsh()
{
    qputenv("PATH", m_savedPath);
}

bool FakeNetsh::ran() const
{
    return QFile::exists(m_dir.filePath(QStringLiteral("arguments")));
}

QStringList FakeNetsh::arguments() const
{
    QFile file(m_dir.filePath(QStringLiteral("arguments")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace ORVIK
