#include "apps/orvik/demo/demonetsh.h"

#include <QFile>

namespace ORVIK {

namespace {

// What the stand-in prints: the listing of a Windows machine in a busy street.
constexpr const char *kDemoNetshOutput =
    "\r\nInterface name : Wi-Fi\r\nThere are 4 networks currently visible.\r\n\r\n"
    "SSID 1 : Cafe Nord\r\n    Network type            : Infrastructure\r\n"
    "    Authentication          : WPA2-Personal\r\n    Encryption              : CCMP\r\n"
    "    BSSID 1                 : 3c:84:6a:10:22:31\r\n         Signal             : 92%\r\n"
    "         Radio type         : 802.11ax\r\n\r\n"
    "SSID 2 : Library Guest\r\n    BSSID 1                 : 00:1d:7e:aa:01:02\r\n"
    "         Signal             : 64%\r\n\r\n"
    "SSID 3 : \r\n    BSSID 1                 : 00:1d:7e:aa:01:03\r\n         Signal             : 58%\r\n\r\n"
    "SSID 4 : HomeNet 5G\r\n    BSSID 1                 : 52:91:e3:07:6c:10\r\n"
    "         Signal             : 31%\r\n\r\n"
    "SSID 5 : Bus Stop\r\n    BSSID 1                 : 9a:00:12:34:56:78\r\n"
    "         Signal             : 12%\r\n";

} // namespace

DemoNetsh::DemoNetsh()
{
    QFile script(m_dir.filePath(QStringLiteral("netsh")));
    QFile output(m_dir.filePath(QStringLiteral("netsh-output.txt")));
    if (!m_dir.isValid() || !output.open(QIODevice::WriteOnly) || output.write(kDemoNetshOutput) < 0 ||
        !script.open(QIODevice::WriteOnly))
        return;
    output.close();
    script.write("#!/bin/sh\nexec cat '" + QFile::encodeName(output.fileName()) + "'\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    m_savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.path()) + ':' + m_savedPath);
    m_valid = true;
}

DemoNetsh::~DemoNetsh()
{
    if (m_valid)
        qputenv("PATH", m_savedPath);
}

} // namespace ORVIK
