#include "tests/wifi/fakewlan.h"

#include "tests/testfile.h"

#include <QFile>
#include <QRegularExpression>

#ifndef _WIN32
// The stand-in's scan operations (windows/wlanapi.cpp), compiled into the fakes.
const ORVIK::WlanFunctions &standInWlanFunctions();
#endif

namespace ORVIK {

namespace {

// The scenario that the stand-in reads: interfaces, their polls and the networks of each.
QByteArray scenario(const QList<FakeWlan::Interface> &interfaces, DWORD openResult, DWORD enumResult)
{
    QByteArray text = "open " + QByteArray::number(openResult) + "\nenum " + QByteArray::number(enumResult) + '\n';
    for (qsizetype i = 0; i < interfaces.size(); ++i) {
        text += "interface Wireless adapter " + QByteArray::number(i) + '\n';
        for (const FakeWlan::Poll &poll : interfaces[i]) {
            text += "poll\n";
            for (const FakeWlan::Network &network : poll)
                text += "network " + QByteArray::number(network.quality) + ' ' +
                        (network.ssid.isEmpty() ? QByteArray("-") : network.ssid.toHex()) + ' ' +
                        QByteArray::number(network.length < 0 ? network.ssid.size() : network.length) + ' ' +
                        QByteArray::number(network.auth) + ' ' + QByteArray::number(network.cipher) + '\n';
        }
    }
    return text;
}

} // namespace

FakeWlan::FakeWlan(const QList<Interface> &interfaces, DWORD openResult, DWORD enumResult)
{
#ifndef _WIN32
    m_previous = installWlanFunctions(&standInWlanFunctions());
#endif
    const QString file = m_dir.filePath(QStringLiteral("scenario"));
    if (!writeFile(file, scenario(interfaces, openResult, enumResult)))
        qFatal("cannot write the WLAN scenario");
    qputenv("ORVIK_WLAN_SCENARIO", QFile::encodeName(file));
    qputenv("ORVIK_WLAN_LOG", QFile::encodeName(m_dir.filePath(QStringLiteral("log"))));
}

FakeWlan::~FakeWlan()
{
#ifndef _WIN32
    installWlanFunctions(m_previous);
#endif
    qunsetenv("ORVIK_WLAN_SCENARIO");
    qunsetenv("ORVIK_WLAN_LOG");
}

void FakeWlan::addScenario(const QByteArray &lines)
{
    if (!writeFile(m_dir.filePath(QStringLiteral("scenario")), lines, QIODevice::Append))
        qFatal("cannot write the WLAN scenario");
}

QStringList FakeWlan::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int FakeWlan::count(const QString &pattern) const
{
    return int(log().filter(QRegularExpression(QRegularExpression::anchoredPattern(pattern))).size());
}

QStringList FakeWlan::calls() const
{
    QStringList calls;
    for (const QString &line : log())
        if (calls.isEmpty() || calls.constLast() != line)
            calls.append(line);
    return calls;
}

} // namespace ORVIK
