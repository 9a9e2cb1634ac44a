# Sourced by the Wine scripts: picks the loader this machine can run. Some kernels run no
# 32-bit code at all, so the 64-bit loader and server are used whenever the 32-bit one fails.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  TONEQUAY_WINE32=/usr/lib/wine/wine
else
  TONEQUAY_WINE32=""
fi
TONEQUAY_WINE64=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINELOADER=$TONEQUAY_WINE64
