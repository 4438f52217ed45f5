# Sourced by the scripts that run the Windows build under Wine: installs
# Wine when missing and prepares a 32-bit prefix.
#
#   wine_prefix DIR [null|x11]   exports WINEPREFIX=DIR and the rest; makes
#                                the prefix once (sound through ALSA into
#                                nothing; graphics: Wine's null driver, or
#                                its X11 driver on $DISPLAY)

wine_install() {
  if ! command -v wine >/dev/null || ! dpkg -s wine32 >/dev/null 2>&1; then
    echo "== installing wine (32-bit)"
    dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine wine32 >/dev/null
  fi
}

wine_prefix() { # dir [null|x11]
  local graphics=${2:-null}
  wine_install
  export WINEPREFIX=$1 WINEARCH=win32 WINEDEBUG=-all
  # Sound through ALSA into nothing (a standalone file: the system's
  # alsa.conf would bring a sound server back).
  export ALSA_CONFIG_PATH=$WINEPREFIX.alsa-null.conf
  echo 'pcm.!default { type null }' >"$ALSA_CONFIG_PATH"
  if [ ! -f "$WINEPREFIX/.tovarin-ready" ]; then
    echo "== making the wine prefix $WINEPREFIX ($graphics graphics)"
    rm -rf "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1
    if [ "$graphics" = null ]; then
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    else
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
    fi
    wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.tovarin-ready"
  fi
}
