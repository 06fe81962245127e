#pragma once

#include "host/base/buffer.h"
#include "host/base/file.h"
#include "host/base/stringview.h"
#include "host/widgets/networkrequestsettings.h"
#include "host/widgets/orvikwidgets_export.h"
#include "host/widgets/softwareservice.h"

#include <cstdint>

namespace ORVIK {

class NetworkRequest;
class TimeRequest;

// The factory of every web transfer and time query. Each result belongs to the caller.
// An installed manager lives until the process ends, so the interface has no virtual destructor.
class ORVIKWIDGETS_EXPORT NetworkAccessManager : public SoftwareService
{
public:
    NetworkAccessManager();

    virtual NetworkRequest *createDownloadRequest(const NetworkRequestSettings &settings) = 0;
    virtual NetworkRequest *createFileUploadRequest(const NetworkRequestSettings &settings, const File &file) = 0;
    virtual NetworkRequest *createDataUploadRequest(const NetworkRequestSettings &settings,
                                                    const Buffer<uint8_t> &data) = 0;
    virtual TimeRequest *createTimeRequest(const StringView &host, uint16_t port) = 0;

protected:
    ~NetworkAccessManager() = default;
};

} // namespace ORVIK
