#!/usr/bin/env bash
# Installs every Debian package Miravo needs to build, test and run.
# This is the one place that lists them. Idempotent: packages already
# present are skipped, and nothing is done when all are present.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format
  # a linker several times quicker than the default one on these programs
  lld
  # desktop program: dialogs, tray, clipboard, image decoding (TIFF/GIF/…)
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
  # service client: HTTPS and XML answers
  libcurl4-openssl-dev libpugixml-dev libssl-dev ca-certificates
  # fax TIFF writing and joining, and the tools the tests read it with
  libtiff-dev libtiff-tools
  # type-checked formatting of language texts
  libfmt-dev
  # local fax service and sent-fax journal: HTTPS server, storage (the
  # sqlite3 shell reads the journal's CSV export back in the tests)
  libcpp-httplib-dev libsqlite3-dev sqlite3
  # print-monitor stand-in: renders printed documents into page images
  # (Ghostscript's library in process; the program for the benchmark)
  ghostscript libgs-dev
  # the renderer's box: its system-call filter
  libseccomp-dev
  # the Miravo printer queue: the print system and its PDF filters;
  # lintian checks the Debian package
  cups cups-client cups-filters lintian
  # the installed desktop entries are checked by the freedesktop validator
  desktop-file-utils
  # the README's picture of a print dialog (scripts/print-dialog-screenshot.sh)
  l3afpad xdotool
  # fonts for cover pages and dialogs rendered without a desktop; Japanese
  # glyphs for the Japanese texts and cover pages
  fonts-dejavu-core fonts-ipafont-gothic
  # port setup program: Win32 cross build, run under Wine
  g++-mingw-w64-x86-64 wine wine64
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth imagemagick curl
  # a window manager on the test X server, as on a user's desktop (the
  # desktop end-to-end run and the screenshots)
  openbox
  # fuzz targets: clang with its libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # the session bus: activation of the program, the print backend's
  # hand-off, desktop notifications; a private bus in the tests
  libdbus-1-dev dbus-daemon dbus-bin
  # Wayland: Qt's platform plugin, and a headless compositor for the tests
  qt6-wayland weston
  # phone numbers: validity and the international form
  libphonenumber-dev
  # the password in the desktop's secret store; a keyring for the tests
  qtkeychain-qt6-dev gnome-keyring
  # one command-line parser for every program
  libcli11-dev
  # the accessibility bus, and a screen reader's view of it in the tests
  at-spi2-core python3-pyatspi
  # Qt's own texts (file dialog, standard buttons, context menus) in the
  # user's language; software-centre metadata and its validator
  qt6-translations-l10n appstream
  # tests read rendered pages and reports back as text
  tesseract-ocr tesseract-ocr-eng tesseract-ocr-jpn poppler-utils
  # file-system faults (I/O errors, full disks) injected into unmodified
  # programs by the fault tests
  libfiu-dev fiu-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
