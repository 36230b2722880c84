# Installs the Debian packages that building, running and testing need.
# Sourced by ./run and ./test; installs only what is missing.

LISTWISE_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev libegl-dev libxkbcommon-dev
  libgtest-dev
  radicale python3-caldav qtkeychain-qt6-dev
  python3 python3-dbf
  xvfb xauth openbox xdotool x11-utils imagemagick ccache
  fonts-liberation2
  cups cups-ipp-utils printer-driver-cups-pdf poppler-utils
  chromium unrtf
  libical-dev python3-icalendar tzdata
  desktop-file-utils appstream lintian librsvg2-bin dpkg-dev
  libreoffice-calc-nogui libreoffice-base-drivers
)

listwise_missing_packages() {
  local missing=()
  for p in "${LISTWISE_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  echo "${missing[@]}"
}

listwise_install_deps() {
  local missing
  missing=$(listwise_missing_packages "$@")
  if [ -n "$missing" ]; then
    echo "Installing missing packages: $missing"
    local sudo=""
    if [ "$(id -u)" != "0" ]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
  fi
}
