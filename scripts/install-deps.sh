#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests, the fuzzers and the
# fixture generators need. Safe to run again: apt-get skips what is there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

PACKAGES=(
  # build (clang builds the program and the checks; ccache helps when warm)
  build-essential cmake ninja-build pkg-config clang ccache git
  # tests, format check, benchmarks, fuzzing
  clang-format libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  # engine dependencies
  zlib1g-dev libtinyxml2-dev libchardet-dev libplist-dev libblkid-dev
  # interface, and the windows tested under a real X server
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-svg-dev
  qt6-image-formats-plugins libudev-dev nlohmann-json3-dev adwaita-icon-theme fonts-urw-base35
  xvfb xauth
  # installing: the package, the desktop entry, the MIME type, the polkit action
  pkexec polkitd dbus desktop-file-utils shared-mime-info x11-xserver-utils dpkg-dev
  # the package's checks: lintian, and the scratch Debian root it is installed into
  lintian debootstrap
  # fixture generators and independent readers
  dosfstools mtools exfatprogs exfat-fuse ntfs-3g sleuthkit fdisk gdisk
  parted util-linux libfsapfs-utils libfshfs-utils libfsntfs-utils
  apfsprogs dmg2img python3 gzip xxd
  # carve samples and the signature-search benchmark (PhotoRec is in testdisk)
  testdisk libjpeg-turbo-progs libimage-exiftool-perl netpbm icoutils icnsutils
  sox gcab
  # office and ZIP samples and the readers that check the carved copies
  zip unzip libgsf-bin msitools python3-olefile python3-docx python3-openpyxl
  python3-xlwt libspreadsheet-writeexcel-perl libole-storage-lite-perl
  # TIFF and camera-raw samples
  imagemagick libtiff-tools
  # archive samples and the readers that check carved archives
  bzip2 libarchive-tools lhasa unar sqlite3 jlha-utils openjdk-17-jre-headless fonttools ffmpeg
  fonts-dejavu-core assimp-utils
  # PDF, PostScript and drawing samples, and the reader that checks carved PDFs
  ghostscript qpdf python3-ezdxf poppler-utils gpsbabel libxml2-utils dcraw
  # audio and video carve samples and the readers that check them
  lame id3v2 python3-mido
  # whole-disk images (waiting for FUSE daemons) and their benchmark
  psmisc time
  # the small screenshots of docs/screenshots (scripts/update-screenshots.sh)
  pngquant optipng
)

export DEBIAN_FRONTEND=noninteractive
# Skip the network when everything is already installed.
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
