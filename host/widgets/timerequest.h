#pragma once

#include "host/base/orviktime.h"
#include "host/widgets/orvikwidgets_export.h"

#include <QObject>

namespace ORVIK {

// One network-time query as the host sees it.
class ORVIKWIDGETS_EXPORT TimeRequest : public QObject
{
    Q_OBJECT
public:
    explicit TimeRequest(QObject *parent = nullptr);
    ~TimeRequest() override;

    // Not a reading of the server's clock, whatever the name says: the request's own send time as
    // the server echoed it back.
    virtual Time serverTime() const = 0;
    // When the server sent its reply, by the server's clock.
    virtual Time txTime() const = 0;
    // When the reply arrived, by the local clock.
    virtual Time rxTime() const = 0;

Q_SIGNALS:
    void finishedSignal();
    void errorOccurredSignal(int code);
};

} // namespace ORVIK
