#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

namespace ORVIK {

// Puts a folder first on PATH for its lifetime. With an output it holds a `netsh` script that
// records its arguments and prints that output; without one the folder is empty, so the command
// is missing (the rest of PATH is dropped then, so no real netsh can answer).
class FakeNetsh
{
public:
    FakeNetsh();
    explicit FakeNetsh(const QByteArray &output);
    ~FakeNetsh();
    FakeNetsh(const FakeNetsh &) = delete;
    FakeNetsh &operator=(const FakeNetsh &) = delete;

    bool isValid() const { return m_valid; }
    bool ran() const;
    // The arguments of the last run, one per entry.
    QStringList arguments() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
    bool m_valid = false;
};

} // namespace ORVIK
