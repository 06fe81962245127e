#!/usr/bin/env bash
# Checks WLAN profiles with xmllint against the profile schema (wlanprofile.xsd), after making sure
# that the schema tells: a valid sample passes, and each change below, which gives a profile that
# Windows refuses or reads otherwise, fails.
#   checkprofiles.sh FOLDER MINIMUM   every *.xml in FOLDER, at least MINIMUM of them
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
schema=$here/wlanprofile.xsd
folder=$1
minimum=$2
sample=$here/profiles/sae-transition.xml
command -v xmllint >/dev/null || { echo "xmllint is missing (Debian package libxml2-utils)"; exit 1; }
xmllint --noout --schema "$schema" "$sample"
valid=$(cat "$sample")
while IFS='|' read -r what from to; do
  changed=${valid/"$from"/"$to"}
  [ "$changed" != "$valid" ] || { echo "the change '$what' does not apply to the sample"; exit 1; }
  if printf '%s' "$changed" | xmllint --noout --schema "$schema" - 2>/dev/null; then
    echo "the schema accepts a profile with $what"
    exit 1
  fi
done <<'CHANGES'
connectionMode before connectionType|<connectionType>ESS</connectionType><connectionMode>manual</connectionMode>|<connectionMode>manual</connectionMode><connectionType>ESS</connectionType>
the SSID as a name only, not its bytes|<hex>536165</hex>|<name>Sae</name>
an SSID of 33 bytes|<hex>536165</hex>|<hex>000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20</hex>
an SSID in odd hex|<hex>536165</hex>|<hex>53616</hex>
an authentication Windows does not know|<authentication>WPA3SAE</authentication>|<authentication>WPA3-SAE</authentication>
an encryption Windows does not know|<encryption>AES</encryption>|<encryption>CCMP</encryption>
transitionMode in the version 1 namespace|<transitionMode xmlns="http://www.microsoft.com/networking/WLAN/profile/v4">|<transitionMode>
transitionMode before useOneX|<useOneX>false</useOneX><transitionMode xmlns="http://www.microsoft.com/networking/WLAN/profile/v4">true</transitionMode>|<transitionMode xmlns="http://www.microsoft.com/networking/WLAN/profile/v4">true</transitionMode><useOneX>false</useOneX>
a key type in the wrong case|<keyType>passPhrase</keyType>|<keyType>passphrase</keyType>
the key before its type|<keyType>passPhrase</keyType><protected>false</protected><keyMaterial>pw</keyMaterial>|<keyMaterial>pw</keyMaterial><keyType>passPhrase</keyType><protected>false</protected>
no profile name|<name>Sae</name>|
CHANGES
count=0
for profile in "$folder"/*.xml; do
  [ -e "$profile" ] || continue
  xmllint --noout --schema "$schema" "$profile"
  count=$((count + 1))
done
if [ "$count" -lt "$minimum" ]; then
  echo "$count profiles in $folder, fewer than $minimum: the tests that join networks log them there"
  exit 1
fi
echo "$count profiles valid"
