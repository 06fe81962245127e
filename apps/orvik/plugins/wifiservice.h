#pragma once

#include <QString>

namespace ORVIK {

// Why the system's WiFi service cannot have listed anything; empty when it runs and has a WiFi
// interface to look with: NetworkManager on the system bus, or Windows' WLAN service. Windows may
// also withhold the list because location access is off for desktop apps: then *locationDenied is
// set and the text is kLocationAccessOff. One file per system implements it.
QString wifiServiceProblem(bool *locationDenied);

} // namespace ORVIK
