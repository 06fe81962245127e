#include "host/widgets/networkrequest.h"

namespace ORVIK {

NetworkRequest::NetworkRequest(QObject *parent) : QObject(parent)
{}

NetworkRequest::~NetworkRequest() = default;

} // namespace ORVIK
