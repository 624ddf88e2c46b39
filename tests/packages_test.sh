#!/usr/bin/env bash
# The Debian packages as a user gets them: lintian finds no error in any; the
# arm64 ones are for arm64 with AArch64 programs; the amd64 ones install with
# apt-get and work with nothing of the build tree on any path; purging them
# leaves no file of theirs behind.
# Usage: tests/packages_test.sh (after scripts/package.sh amd64 and arm64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
amd64=$root/build/packages/amd64
arm64=$root/build/packages/arm64
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== lintian"
lintian --fail-on error "$amd64"/*.deb "$arm64"/*.deb

echo "== arm64"
for deb in "$arm64"/*.deb; do
    [ "$(dpkg-deb --field "$deb" Architecture)" = arm64 ] || { echo "$deb is not for arm64"; exit 1; }
done
dpkg-deb -x "$arm64"/twincam-tools_*.deb "$work/arm64"
for program in "$work"/arm64/usr/bin/*; do
    case "$(file -b "$program")" in *"ARM aarch64"*) ;; *) echo "$program is not an AArch64 program"; exit 1 ;; esac
done

echo "== install"
packages=()
for deb in "$amd64"/*.deb; do packages+=("$(dpkg-deb --field "$deb" Package)"); done
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$amd64"/*.deb >/dev/null
dpkg -L "${packages[@]}" | sort -u >"$work/files"

# A clean environment, in a directory of its own: nothing from the build tree.
clean() { (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work" "$@"); }
expect() {  # text, then a command: the command's output holds the text
    local text=$1 out
    shift
    out=$(clean "$@" 2>&1) || { echo "$out"; return 1; }
    [[ "$out" == *"$text"* ]] || { echo "'$*' did not print '$text':"; echo "$out"; return 1; }
}
expect "files written: 3" twincam-capture --frames 3 --output "$work/caps"
expect "twincam camera source" gst-inspect-1.0 twincamsrc
expect "(360, 320)" /usr/bin/python3 -c "import twincam; print(twincam.Camera(0, 30, 320, 240).read().shape)"
clean systemd-analyze verify /lib/systemd/system/twincam-serve.service
clean man -w twincam-capture >/dev/null
# The service's user (not root, in the video group) serves HTTPS with a
# certificate installed in /etc/twincam/ as the defaults file says.
$sudo install -d -m 750 -g video /etc/twincam
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=twincam \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
$sudo install -m 640 -g video "$work/cert.pem" "$work/key.pem" /etc/twincam/
out=$(clean timeout 3 setpriv --reuid=65534 --regid=65534 --groups="$(getent group video | cut -d: -f3)" \
    twincam-serve --listen 127.0.0.1:0 --rtsp off --webrtc off \
    --tls-cert /etc/twincam/cert.pem --tls-key /etc/twincam/key.pem 2>&1 || true)
$sudo rm -rf /etc/twincam
[[ "$out" == *"https://127.0.0.1:"* ]] || { echo "no HTTPS with the certificate in /etc/twincam/:"; echo "$out"; exit 1; }

echo "== purge"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq "${packages[@]}" >/dev/null
left=0
while read -r path; do
    if [ -e "$path" ] && [ ! -d "$path" ]; then echo "left behind: $path"; left=1; fi
done <"$work/files"
for dir in /usr/lib/*/twincam /usr/lib/python3/dist-packages/twincam /usr/include/twincam; do
    if [ -e "$dir" ]; then echo "left behind: $dir"; left=1; fi
done
[ $left -eq 0 ]
echo "packages test passed"
