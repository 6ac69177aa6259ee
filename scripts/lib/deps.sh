# Sourced by the scripts: installs the Debian packages the project needs, when missing.

VEMO_PACKAGES=(
  cmake make g++ pkg-config nodejs
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
  libcpp-httplib-dev nlohmann-json3-dev
  chromium
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

# The browser tests drive Debian's chromium with Playwright's library alone (playwright-core: no
# browser download). It goes into build/node once; later calls find it there.
VEMO_PLAYWRIGHT_VERSION=1.65.2
vemo_install_playwright() {
  local prefix="${1:-build/node}"
  if [ -f "$prefix/node_modules/playwright-core/package.json" ] &&
     grep -q "\"version\": \"$VEMO_PLAYWRIGHT_VERSION\"" "$prefix/node_modules/playwright-core/package.json"; then
    return 0
  fi
  command -v npm >/dev/null || vemo_install_deps npm
  mkdir -p "$prefix"
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --prefix "$prefix" --no-save --no-audit --no-fund \
    --loglevel=error "playwright-core@$VEMO_PLAYWRIGHT_VERSION"
}
