#pragma once

// The two sources of the WiFi scan and the order of the first one's list. Internal to the
// module: the dialog's scanAndPopulate is their only user.

#include "host/base/buffer.h"
#include "host/base/orvikstring.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace ORVIK {

// Asks every wireless interface to scan and reads its network list for 1500 ms, handling
// events between reads. True when a named network was seen: then names and qualities hold one
// entry per name, strongest first. False leaves both buffers untouched; so does a requester
// destroyed meanwhile, which ends the scan at its next poll.
// Named after the Windows WLAN API; on Linux it runs the scan through NetworkManager.
bool scanWithWlanApi(Buffer<String> &names, Buffer<int> &qualities, const QPointer<QObject> &requester);

// The network listing command: on Windows netsh.exe of the system folder by its full path (empty if
// that folder cannot be told), elsewhere "netsh", found through PATH.
QString netshProgram();

// Runs the network listing command and returns its standard output, decoded as local 8-bit
// text; empty when the command is missing.
QString runNetshCommand();

// Appends one entry per SSID line that a signal line follows, in the order of the text.
void parseNetshOutput(const QString &text, Buffer<String> &names, Buffer<int> &qualities);

// The order of the WLAN list: stronger first, then by lower-cased name.
bool comesBefore(int quality, const String &name, int otherQuality, const String &otherName);

} // namespace ORVIK
