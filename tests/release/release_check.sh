#!/usr/bin/env bash
# A release as an operator and a player meet it (`make release-check`; `make test` runs it):
#   release_check.sh BUILD_DIR      (BUILD_DIR: the Windows test build, for its update host)
# a. Two releases of this tree (scripts/release --working-tree), in two folders of different
#    names, one after the other: the first signed with a throwaway certificate that openssl
#    makes here and time-stamped by a loopback RFC 3161 server, the second unsigned. Their
#    unsigned programs are the same byte for byte; the SHA-256 values are printed.
# b. The signed programs pass `osslsigncode verify` against the throwaway root, with the
#    program's name, the publisher's URL and the time stamp; with the signature removed they
#    are the unsigned programs again. Both SHA256SUMS files check.
# c. The same release signed again with the key on a SoftHSM token through PKCS#11
#    (scripts/sign-release on its own, as on a machine that holds the key).
# d. The signed OrvaneSetup.exe passes the PE checks; both programs name the release's version
#    in their version blocks; the setup installs a client silently under Wine from a loopback
#    update host.
set -uo pipefail

if [ $# -ne 1 ]; then
    echo "usage: release_check.sh BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
fixture_exe=$build/tests/ui/smoke/fixture_server.exe
[ -f "$fixture_exe" ] || { echo "release_check: $fixture_exe is missing: make build first" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
script_name=release_check
tsa_pid=
gui_on_exit() {
    stop_fixtures
    [ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null
}
source "$root/scripts/gui_session.sh"
passed=0
pass() { say "$*"; passed=$((passed + 1)); }

# --- The throwaway certificates: a root, a code-signing certificate, a time-stamp authority
keys=$work/keys
mkdir -p "$keys"
certificate() {  # NAME SUBJECT EXTENSIONS...: NAME.key and NAME.pem, issued by the root
    local name=$1 subject=$2
    shift 2
    printf '%s\n' "$@" >"$keys/$name.ext"
    openssl req -newkey rsa:2048 -nodes -keyout "$keys/$name.key" -out "$keys/$name.csr" \
        -subj "$subject" 2>/dev/null &&
        openssl x509 -req -in "$keys/$name.csr" -CA "$keys/root.pem" -CAkey "$keys/root.key" \
            -CAcreateserial -days 2 -out "$keys/$name.pem" -extfile "$keys/$name.ext" 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/root.key" -out "$keys/root.pem" -days 2 \
    -subj "/CN=Orvane Release Check Root" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null || fail "openssl cannot make the root"
certificate signing "/CN=Orvane Games Release Check/O=Orvane Games" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" ||
    fail "openssl cannot make the code-signing certificate"
certificate tsa "/CN=Orvane Release Check Time Stamps" "basicConstraints=CA:FALSE" \
    "keyUsage=critical,digitalSignature" "extendedKeyUsage=critical,timeStamping" ||
    fail "openssl cannot make the time-stamp certificate"
printf 'release-check %s\n' "$RANDOM$RANDOM" >"$keys/password"
openssl pkcs12 -export -out "$keys/signing.pfx" -inkey "$keys/signing.key" -in "$keys/signing.pem" \
    -certfile "$keys/root.pem" -passout "file:$keys/password" || fail "openssl cannot make the PFX"

echo 01 >"$keys/tsa.serial"
cat >"$keys/tsa.cnf" <<EOF
[tsa]
default_tsa = check_tsa
[check_tsa]
serial = $keys/tsa.serial
crypto_device = builtin
signer_cert = $keys/tsa.pem
certs = $keys/root.pem
signer_key = $keys/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
python3 "$here/tsa_server.py" "$keys/tsa.cnf" "$work/tsa.port" 2>"$work/tsa.log" &
tsa_pid=$!
wait_until 10 "the time-stamp server starts" test -s "$work/tsa.port"
tsa_url=http://127.0.0.1:$(cat "$work/tsa.port")/

# --- a. Two releases, two folders, compared -------------------------------------------
first=$work/first
second=$work/a-second-folder
ORVANE_SIGN_PFX=$keys/signing.pfx ORVANE_SIGN_PASSWORD_FILE=$keys/password ORVANE_TIMESTAMP_URL=$tsa_url \
    "$root/scripts/release" --working-tree --work "$first/build" --out "$first/dist" >"$work/first.log" 2>&1 ||
    fail "a. the signed release failed: $(tail -n 20 "$work/first.log")"
grep -q "signed with" "$work/first.log" || fail "a. the signed release does not say it signed: $(cat "$work/first.log")"
"$root/scripts/release" --working-tree --work "$second/build" --out "$second/dist" >"$work/second.log" 2>&1 ||
    fail "a. the unsigned release failed: $(tail -n 20 "$work/second.log")"
grep -q "UNSIGNED" "$work/second.log" || fail "a. the unsigned release does not say so: $(cat "$work/second.log")"
for file in OrvaneSetup.exe orvpak.exe; do
    cmp "$first/dist/unsigned/$file" "$second/dist/$file" ||
        fail "a. $file differs between the two builds ($first/dist/unsigned, $second/dist)"
done
cmp "$first/dist/orvpak" "$second/dist/orvpak" || fail "a. the native orvpak differs between the two builds"
(cd "$second/dist" && sha256sum OrvaneSetup.exe orvpak.exe orvpak) | sed 's/^/  both builds: /'
pass "a. two builds in two folders: the same bytes"

# --- b. The signatures ------------------------------------------------------------------
for file in OrvaneSetup.exe orvpak.exe; do
    signed=$first/dist/$file
    osslsigncode verify -CAfile "$keys/root.pem" -TSA-CAfile "$keys/root.pem" -in "$signed" \
        >"$work/verify.txt" 2>&1 || fail "b. osslsigncode does not accept $file: $(cat "$work/verify.txt")"
    for line in "Signature verification: ok" "URL description: https://orvane.example/" "Timestamp Server Signature verification: ok"; do
        grep -qF "$line" "$work/verify.txt" || fail "b. $file: no '$line' in: $(cat "$work/verify.txt")"
    done
    [ "$file" = orvpak.exe ] || grep -qF "Text description: Orvane Online Setup" "$work/verify.txt" ||
        fail "b. $file does not name the program in its signature: $(cat "$work/verify.txt")"
    osslsigncode remove-signature -in "$signed" -out "$work/stripped.exe" >/dev/null 2>&1 ||
        fail "b. cannot remove the signature of $file"
    cmp -s "$work/stripped.exe" "$first/dist/unsigned/$file" ||
        fail "b. $file without its signature is not the unsigned program"
    rm -f "$work/stripped.exe"
done
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/other.key" -out "$keys/other.pem" -days 2 \
    -subj "/CN=Another Root" 2>/dev/null || fail "openssl cannot make a second root"
osslsigncode verify -CAfile "$keys/other.pem" -in "$first/dist/OrvaneSetup.exe" >/dev/null 2>&1 &&
    fail "b. osslsigncode accepts the signature against another root"
(cd "$first/dist" && sha256sum --quiet -c SHA256SUMS) || fail "b. the signed release's SHA256SUMS does not check"
(cd "$second/dist" && sha256sum --quiet -c SHA256SUMS) || fail "b. the unsigned release's SHA256SUMS does not check"
grep -q " unsigned/OrvaneSetup.exe$" "$first/dist/SHA256SUMS" || fail "b. SHA256SUMS does not list the unsigned programs"
pass "b. both programs signed and time-stamped; without their signature, the unsigned bytes"

# --- c. The same release signed again, by a key that stays on a token (SoftHSM) -----------
export SOFTHSM2_CONF=$keys/softhsm2.conf
mkdir "$keys/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$keys/tokens" >"$SOFTHSM2_CONF"
echo 2468 >"$keys/pin"
{ softhsm2-util --init-token --free --label orvane-check --pin 2468 --so-pin 97531 &&
    openssl pkcs8 -topk8 -nocrypt -in "$keys/signing.key" -out "$keys/signing.p8" &&
    softhsm2-util --import "$keys/signing.p8" --token orvane-check --label release --id 01 --pin 2468
} >"$work/softhsm.log" 2>&1 || fail "c. cannot put the key on a SoftHSM token: $(cat "$work/softhsm.log")"
rm "$keys/signing.p8"
cat "$keys/signing.pem" "$keys/root.pem" >"$keys/chain.pem"
cp -r "$first/dist" "$work/token-dist"
ORVANE_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so ORVANE_SIGN_CERTS=$keys/chain.pem \
    ORVANE_SIGN_KEY="pkcs11:token=orvane-check;object=release;type=private" ORVANE_SIGN_PASSWORD_FILE=$keys/pin \
    "$root/scripts/sign-release" "$work/token-dist" >"$work/token.log" 2>&1 ||
    fail "c. signing with the token failed: $(cat "$work/token.log")"
for file in OrvaneSetup.exe orvpak.exe; do
    cmp -s "$work/token-dist/$file" "$first/dist/$file" && fail "c. $file was not signed again"
    osslsigncode verify -CAfile "$keys/root.pem" -in "$work/token-dist/$file" >"$work/verify.txt" 2>&1 ||
        fail "c. osslsigncode does not accept $file signed by the token: $(cat "$work/verify.txt")"
    cmp -s "$work/token-dist/unsigned/$file" "$first/dist/unsigned/$file" || fail "c. the unsigned $file changed"
done
(cd "$work/token-dist" && sha256sum --quiet -c SHA256SUMS) || fail "c. SHA256SUMS after signing again does not check"
pass "c. signed again through PKCS#11, the key never in a file the signer reads"

# --- d. The signed program, as a player runs it ------------------------------------------
setup_exe=$first/dist/OrvaneSetup.exe
"$root/scripts/check-pe" "$setup_exe" >"$work/pe.txt" || fail "d. $(cat "$work/pe.txt")"
version=$(sed -n 's/^release: version \([^,]*\),.*/\1/p' "$work/first.log")
for exe in "$setup_exe" "$first/dist/orvpak.exe"; do
    product_version=$(/usr/bin/python3 -c '
import sys, pefile
pe = pefile.PE(sys.argv[1])
for info in pe.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        print(table.entries[b"ProductVersion"].decode())' "$exe")
    [ -n "$version" ] && [ "$product_version" = "$version" ] ||
        fail "d. the version block of $exe says '$product_version', the release '$version'"
done

export WINEPREFIX=$build/wineprefix-release
unset DISPLAY
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || fail "cannot make the Wine prefix $WINEPREFIX"
start_fixture main
url=$(fixture_url main)
location=$work/games
"$wine_run" "$setup_exe" --silent --manifest="$url" --install="$(windows_path "$location")" \
    >"$work/setup.log" 2>&1
code=$?
[ "$code" -eq 0 ] || fail "d. the signed program's silent install: exit code $code"
client_installed "$work/fixture-main/client" "$location/OrvaneOnline" || fail "d. the installed client differs: $seen"
cmp -s "$setup_exe" "$location/OrvaneOnline/OrvaneSetup.exe" ||
    fail "d. the setup's copy in the install folder is not the signed program"
"$wine_run" "$location/OrvaneOnline/OrvaneSetup.exe" --uninstall --silent >/dev/null 2>&1
pass "d. the signed OrvaneSetup.exe ($version): PE checks pass; it installs a client silently"

echo "release_check: $passed passed, 0 failed"
