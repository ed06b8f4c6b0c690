# Sourced by the scripts that build, test, fuzz and package: what they need
# from the machine, in one place.

# need_packages PACKAGE...: installs the Debian packages that are missing
# (apt-get, as root); nothing happens when all are there.
need_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
}

# prepare_wine: sets $wine and $wineserver, keeps Wine quiet, makes its
# prefix once (in HOME) and starts a persistent server so that each run of
# a Windows program is quick.
prepare_wine() {
  export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
  export WINEDEBUG=-all
  wine=/usr/lib/wine/wine64
  [[ -x $wine ]] || wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -p >/dev/null 2>&1 || true
}
