#include "host/widgets/timerequest.h"

namespace ORVIK {

TimeRequest::TimeRequest(QObject *parent) : QObject(parent)
{}

TimeRequest::~TimeRequest() = default;

} // namespace ORVIK
