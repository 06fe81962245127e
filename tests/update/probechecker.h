#pragma once

#include "host/base/exception.h"
#include "update/orvikupdatechecker.h"

#include <QByteArray>
#include <QList>

namespace ORVIK {

// An update checker that records every text reaching the host's update logic and can be told
// to fail while a check is prepared.
class ProbeChecker : public ORVIKUpdateChecker
{
public:
    using ORVIKUpdateChecker::ORVIKUpdateChecker;

    void processUpdateString(const String &text) override
    {
        received.append(QByteArray(text.data(), static_cast<qsizetype>(text.length())));
        ORVIKUpdateChecker::processUpdateString(text);
    }
    String defaultURLPathName() override
    {
        ++namesFormed;
        if (throwing)
            throw Exception("The update channel file is locked");
        return ORVIKUpdateChecker::defaultURLPathName();
    }

    QList<QByteArray> received;
    int namesFormed = 0;
    bool throwing = false;
};

} // namespace ORVIK
