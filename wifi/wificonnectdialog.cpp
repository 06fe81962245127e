#include "wifi/wificonnectdialog.h"

#include "host/base/stringstream.h"
#include "host/base/translatedstring.h"
#include "host/base/translator.h"
#include "host/widgets/button.h"
#include "host/widgets/qcustomcombobox.h"
#include "host/widgets/qcustomlineedit.h"
#include "host/widgets/qcustomvalidator.h"
#include "host/widgets/qstringstream.h"
#include "host/widgets/toggle.h"
#include "wifi/wifiscan_p.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace ORVIK {

namespace {

constexpr int kMinimumScanIntervalMs = 500;
constexpr int kFirstScanDelayMs = 50;
constexpr int kButtonScanIntervalMs = 10000;
constexpr int kSizeHintIconWidths = 15;

TranslatedString translated(const char *english)
{
    return TranslatedString(Translator::DefaultID(english), english);
}

QString groupTitle(const char *english)
{
    return StringStream<QString>::fromString(translated(english).translation());
}

// Four bars standing on the bottom edge, the first `quality / 25` of them lit.
QPixmap signalIcon(int quality, const QColor &lit, const QColor &unlit)
{
    const int litBars = std::clamp(quality / 25, 0, 4);
    QPixmap pixmap(24, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int bar = 0; bar < 4; ++bar) {
        const int height = 4 * (bar + 1);
        painter.fillRect(QRect(5 * bar, pixmap.height() - height, 4, height), bar < litBars ? lit : unlit);
    }
    painter.end();
    return pixmap;
}

// The combo box's value in force: a free value marked so, else the selected entry's value,
// else the free value.
String comboValue(const QCustomComboBox &combo)
{
    if (combo.isFreeValueInForce())
        return combo.freeValue();
    const int index = combo.currentIndex();
    if (index != -1 && static_cast<uint32_t>(index) < combo.values().size())
        return combo.values()[static_cast<uint32_t>(index)];
    return combo.freeValue();
}

} // namespace

WifiConnectDialog::WifiConnectDialog(QWidget *parent)
    : QWidget(parent), ssidCombo(new QCustomComboBox(this)), passwordEdit(new QCustomLineEdit(this)),
      showPasswordToggle(new Toggle), scanButton(nullptr), acceptButton(new Button(this)),
      cancelButton(new Button(this)), autoScanTimer(nullptr)
{
    // Until the layout adopts it, the switch has no parent; the guard owns it meanwhile.
    std::unique_ptr<Toggle> toggleOwner(showPasswordToggle);

    ssidCombo->setAllowsFreeValue(true);
    ssidCombo->refreshWidget();
    // An open network has no password.
    passwordEdit->customValidator()->setAllowEmpty(true);
    passwordEdit->setIsPassword(true, StringView());

    setWindowTitle(
        StringStream<QString>::fromString(StringStream<TranslatedString>::toString(translated("Select WiFi"))));

    auto scanOwner = std::make_unique<Button>(translated("Scan"), "refresh", [this](Button *) {
        if (scanButton->isChecked())
            startAutoScan(kButtonScanIntervalMs);
        else
            stopAutoScan();
    });
    scanButton = scanOwner.get();
    scanButton->setCheckable(true);
    scanButton->setButtonState(Button::Latching);

    showPasswordToggle->setup(translated("Show password"), StringView(), [this](Button *) {
        // Read in the old mode, write back in the new one: the password survives the switch.
        const PasswordString password = currentPassword();
        passwordEdit->setIsPassword(!showPasswordToggle->isChecked(), StringView());
        setPassword(password);
    });
    acceptButton->setup(translated("Accept"), StringView(), [this](Button *) {
        stopAutoScan();
        emit acceptedSignal();
    });
    cancelButton->setup(translated("Cancel"), StringView(), [this](Button *) {
        stopAutoScan();
        emit canceledSignal();
    });

    auto networkBox = std::make_unique<QGroupBox>(groupTitle("Network"));
    auto networkLayout = new QHBoxLayout(networkBox.get());
    networkLayout->addWidget(ssidCombo, 1);
    networkLayout->addWidget(scanOwner.release(), 0);

    auto passwordBox = std::make_unique<QGroupBox>(groupTitle("Password"));
    auto passwordLayout = new QVBoxLayout(passwordBox.get());
    passwordLayout->addWidget(passwordEdit);
    passwordLayout->addWidget(toggleOwner.release());

    auto buttonLayout = std::make_unique<QHBoxLayout>();
    buttonLayout->addStretch(0);
    buttonLayout->addWidget(cancelButton);
    buttonLayout->addWidget(acceptButton);

    auto mainLayout = std::make_unique<QVBoxLayout>();
    mainLayout->addWidget(networkBox.release());
    mainLayout->addWidget(passwordBox.release());
    mainLayout->addStretch(0);
    mainLayout->addLayout(buttonLayout.release());
    setLayout(mainLayout.release());
}

WifiConnectDialog::~WifiConnectDialog() = default;

void WifiConnectDialog::scanAndPopulate()
{
    // The WLAN path handles events while it polls; the owner may delete this dialog meanwhile.
    // Then the scan stops at its next poll and nothing of it reaches the dialog.
    const QPointer<QObject> self(this);
    Buffer<String> names;
    Buffer<int> qualities;
    if (!scanWithWlanApi(names, qualities, self)) {
        if (!self)
            return;
        parseNetshOutput(runNetshCommand(), names, qualities);
    }
    setSSIDs(names, qualities);
}

void WifiConnectDialog::setSSIDs(const Buffer<String> &names, const Buffer<int> &signalQualities)
{
    String remembered = comboValue(*ssidCombo);
    remembered.trimWhiteSpace();

    ssidCombo->blockSignals(true);
    Buffer<TranslatedString> displayNames;
    for (const String &name : names)
        displayNames.append(StringStream<String>::toDisplayString(name));
    ssidCombo->setup(translated("SSID"), names, displayNames);

    const QColor lit = palette().color(QPalette::Highlight);
    const QColor unlit(Qt::lightGray);
    for (uint32_t i = 0; i < names.size(); ++i) {
        // A missing quality shows as no signal.
        const int quality = i < signalQualities.size() ? signalQualities[i] : 0;
        ssidCombo->setItemIcon(static_cast<int>(i), QIcon(signalIcon(quality, lit, unlit)));
        ssidCombo->setItemData(static_cast<int>(i), quality, SignalQualityRole);
    }
    ssidCombo->setEditable(true);

    const int found =
        ssidCombo->findData(QVariant(StringStream<QString>::fromString(remembered)), Qt::DisplayRole, Qt::MatchFlags());
    if (found != -1)
        ssidCombo->setCurrentIndex(found);
    else if (!remembered.isEmpty())
        ssidCombo->setValue(remembered);
    ssidCombo->blockSignals(false);
}

void WifiConnectDialog::setSsid(const StringView &ssid)
{
    ssidCombo->setValue(String(ssid));
}

void WifiConnectDialog::setPassword(const PasswordString &password)
{
    if (passwordEdit->isPassword())
        passwordEdit->setValue(password);
    else
        passwordEdit->setValue(password.decode());
}

void WifiConnectDialog::setShowPassword(bool show)
{
    showPasswordToggle->setChecked(show);
}

String WifiConnectDialog::currentSsid() const
{
    String value = comboValue(*ssidCombo);
    value.trimWhiteSpace();
    return value;
}

PasswordString WifiConnectDialog::currentPassword() const
{
    if (passwordEdit->isPassword())
        return StringStream<PasswordString>::fromString(passwordEdit->getValue(passwordEdit->isPassword()));
    return PasswordString::Encode(passwordEdit->getValue());
}

void WifiConnectDialog::startAutoScan(int intervalMs)
{
    if (!autoScanTimer) {
        autoScanTimer = new QTimer(this);
        connect(autoScanTimer, &QTimer::timeout, this, &WifiConnectDialog::scanAndPopulate);
    }
    scanButton->setChecked(true);
    autoScanTimer->start(std::max(intervalMs, kMinimumScanIntervalMs));
    QTimer::singleShot(kFirstScanDelayMs, this, &WifiConnectDialog::scanAndPopulate);
}

void WifiConnectDialog::stopAutoScan()
{
    if (autoScanTimer)
        autoScanTimer->stop();
    scanButton->setChecked(false);
}

void WifiConnectDialog::setDefaultSecurity(const QString &)
{}

void WifiConnectDialog::setSecurityOptions(const QList<QString> &)
{}

QSize WifiConnectDialog::sizeHint() const
{
    QSize hint = QWidget::sizeHint();
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, nullptr);
    hint.setWidth(std::max(hint.width(), kSizeHintIconWidths * iconSize));
    return hint;
}

} // namespace ORVIK
