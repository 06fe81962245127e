#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace ORVIK {

// What the WiFi demo's scan lists, for the object's lifetime. Windows has the WLAN service, and the
// system's netsh as its fallback: there the dialog lists what they see, and this does nothing.
// Elsewhere a scan without a WLAN service runs netsh by name: a stand-in that prints the listing of
// a Windows machine in a busy street is put first on PATH, and PATH is restored at the end. One file
// per system implements it.
class DemoNetsh
{
public:
    DemoNetsh();
    ~DemoNetsh();
    Q_DISABLE_COPY(DemoNetsh)

    // False when the stand-in could not be written.
    bool isValid() const { return m_valid; }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
    bool m_valid = false;
};

} // namespace ORVIK
