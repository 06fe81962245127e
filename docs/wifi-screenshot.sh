#!/bin/sh
# Regenerates docs/wifi-dialog.png, the README's picture of the WiFi dialog: one scan through a
# stand-in netsh that lists a street of networks, with no system bus (so no NetworkManager answers),
# rendered off screen. The picture thus shows the same networks on every machine.
# Usage: docs/wifi-screenshot.sh [ORVIK_PROGRAM]   (default: build/bin/orvik)
set -eu
cd "$(dirname "$0")/.."
orvik=${1:-build/bin/orvik}
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/netsh" <<'END'
#!/bin/sh
printf 'Interface name : Wi-Fi\r\n'
printf 'SSID 1 : Cafe Nord\r\n    Authentication : WPA2-Personal\r\n    Signal : 92%%\r\n'
printf 'SSID 2 : Library Guest\r\n    Signal : 64%%\r\n'
printf 'SSID 3 : HomeNet 5G\r\n    Signal : 31%%\r\n'
printf 'SSID 4 : Bus Stop\r\n    Signal : 12%%\r\n'
END
chmod +x "$fake/netsh"
PATH="$fake:$PATH" DBUS_SYSTEM_BUS_ADDRESS="unix:path=$fake/no-bus" QT_QPA_PLATFORM=offscreen \
  "$orvik" wifi --screenshot docs/wifi-dialog.png
echo "wrote docs/wifi-dialog.png"
