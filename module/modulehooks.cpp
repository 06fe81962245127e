#include "module/moduleentry.h"

#include "host/base/moduleresources.h"
#include "host/base/translator.h"
#include "host/widgets/itemdownloader.h"
#include "network/qtnetworkaccessmanager.h"
#include "time/ntpclient.h"
#include "time/ntpreceiveport.h"

#include <QNetworkReply>

namespace {

struct DependencyRow
{
    const char *file;
    ORVIK::StringView config;
};

} // namespace

extern "C" {

void ORVIKNetworkDefineModuleResourcesForORVIK(ORVIK::ModuleResources &resources)
{
    using namespace ORVIK;
    // Qt Network and its TLS back-ends; names ending in "d" are the debug builds.
    const DependencyRow rows[] = {
        {"Qt6Networkd", ConfigType::debug},           {"Qt6Network", ConfigType::release},
        {"tls/qcertonlybackendd", ConfigType::debug}, {"tls/qopensslbackendd", ConfigType::debug},
        {"tls/qschannelbackendd", ConfigType::debug}, {"tls/qcertonlybackend", ConfigType::release},
        {"tls/qopensslbackend", ConfigType::release}, {"tls/qschannelbackend", ConfigType::release},
    };
    for (const DependencyRow &row : rows)
        resources.dependencies.append(
            ModuleDependency(DependencyType::sharedLibrary, row.file, OSType::all, row.config, PlatformType::all));

    ModulePort port;
    port.id = "ntp_recieive_comp";
    port.name = TranslatedString(Translator::DefaultID("NTP RX Port"), "NTP RX Port");
    port.port = kNtpReceivePort;
    port.protocol = "udp";
    resources.ports.append(port);
}

void ORVIKNetworkSetupMetatypesForORVIK()
{
    ORVIK::NtpClient::registerMetaTypes(); // NtpReply, Time, QHostAddress
    qRegisterMetaType<QNetworkReply::NetworkError>();
    // Installed for the rest of the process: the host never hands it back.
    ORVIK::ItemDownloader::SetAccessManager(new ORVIK::QtNetworkAccessManager);
}

} // extern "C"
