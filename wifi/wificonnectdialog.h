#pragma once

#include "host/base/buffer.h"
#include "host/base/orvikstring.h"
#include "host/base/passwordstring.h"
#include "host/base/stringview.h"
#include "module/orviknetwork_export.h"

#include <QList>
#include <QString>
#include <QWidget>

class QTimer;

namespace ORVIK {

class Button;
class QCustomComboBox;
class QCustomLineEdit;
class Toggle;

// A widget to pick a wireless network and enter its password. It never closes itself: Accept
// and Cancel stop the scanning and emit a signal, and the owner reads the values and closes it.
class ORVIKNETWORK_EXPORT WifiConnectDialog : public QWidget
{
    Q_OBJECT
public:
    // The item data role under which each entry of the network list keeps its signal quality.
    static constexpr int SignalQualityRole = Qt::UserRole + 1;

    explicit WifiConnectDialog(QWidget *parent = nullptr);
    ~WifiConnectDialog() override;

    // One scan: the WLAN service, or else the netsh command; ends in setSSIDs.
    void scanAndPopulate();
    // Replaces the listed networks and keeps the name that was current.
    void setSSIDs(const Buffer<String> &names, const Buffer<int> &signalQualities);

    void setSsid(const StringView &ssid);
    void setPassword(const PasswordString &password);
    void setShowPassword(bool show);
    String currentSsid() const;
    PasswordString currentPassword() const;

    // Scans every intervalMs (at least 500), the first time after 50 ms.
    void startAutoScan(int intervalMs);
    void stopAutoScan();

    // The dialog offers no choice of security; these accept anything and change nothing.
    void setDefaultSecurity(const QString &security);
    void setSecurityOptions(const QList<QString> &options);

    QSize sizeHint() const override;

Q_SIGNALS:
    void acceptedSignal();
    void canceledSignal();

private:
    QCustomComboBox *ssidCombo;
    QCustomLineEdit *passwordEdit;
    Toggle *showPasswordToggle;
    Button *scanButton;
    Button *acceptButton;
    Button *cancelButton;
    QTimer *autoScanTimer;
};

} // namespace ORVIK
