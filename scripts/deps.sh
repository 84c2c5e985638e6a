#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need. Safe to run again:
# packages already present are left alone and nothing is fetched when all are there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git
  # Qt 6: widgets, browser controls, sound
  qt6-base-dev qt6-webengine-dev qt6-multimedia-dev
  # Qt's own texts (message-box buttons, dialogs) in Korean
  qt6-translations-l10n
  # the desktop's own file chooser through the desktop portal, where the desktop offers one
  qt6-xdgdesktopportal-platformtheme
  # X11 capture and input; the remote-control server and the reference agent (LibVNCServer/Client)
  libx11-dev libxext-dev libxdamage-dev libxfixes-dev libxtst-dev libvncserver-dev
  # the screen's monitors (RandR 1.5), so that the agent can be shown one of them
  libxrandr-dev
  # the viewer asks GnuTLS whether a TLS link holds data already decrypted
  libgnutls28-dev
  # the viewer shows the agent's screen through X11 shared memory (xcb's MIT-SHM requests)
  libxcb-shm0-dev
  # the pinned TLS 1.3 link between the server component and the agent's program, and its key files
  libssl-dev
  # screen recordings: zstd compression, zlib checksums, JPEG for photo-like areas
  libzstd-dev zlib1g-dev libjpeg62-turbo-dev
  # saving a recording as a video (MP4 with H.264, WebM with VP9): FFmpeg's libraries; ffprobe (ffmpeg)
  # reads the videos back in the tests
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev ffmpeg
  # tests
  libgtest-dev libgmock-dev xvfb xauth xdotool x11-utils
  # the clipboard tests set and read the X clipboard of a third-party viewer's display
  xclip
  # xrandr splits a test display into monitors
  x11-xserver-utils
  # a window manager for the tests of desktop behaviour (show desktop)
  openbox
  # the desktop tests run a session bus with the accessibility bus on it, as desktops with a screen
  # reader do; gdb prints the program's stack when the session soak finds it hung or crashed
  dbus at-spi2-core gdb
  # third-party RFB peers for the server tests and benchmarks
  tigervnc-viewer tigervnc-standalone-server tigervnc-scraping-server x11vnc
  # the server benchmark's text scene: a real terminal scrolling Korean text (with fonts-nanum)
  xterm
  # FTP drop boxes (with TLS: pyftpdlib needs pyOpenSSL) for the FTP client's tests and the demo
  python3-pyftpdlib python3-openssl vsftpd
  # web service client and the reference web service
  libcurl4-openssl-dev libcpp-httplib-dev
  # Korean fonts, so that Korean text does not render as boxes
  fonts-nanum
  # the Debian package: its dependencies are found with dpkg-shlibdeps
  dpkg-dev xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
