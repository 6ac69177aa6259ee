# Sourced by the scripts: installs the Debian packages the project needs, when missing.

VEMO_PACKAGES=(
  cmake make g++ pkg-config
  g++-multilib
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  libyuv-dev libturbojpeg0-dev libjpeg-dev libpng-dev
  libexif-dev libimage-exiftool-perl
  libcli11-dev
  qrencode zbar-tools
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
)

vemo_install_deps() {
  local missing=()
  local pkg
  for pkg in "${VEMO_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
