# Sourced by tests/wine/run.sh (its WINEPREFIX, wine_run, step and failed): the NSIS
# installer run silently, the installed programs started, then a silent uninstall that
# must leave no file, shortcut or registry key behind.
installed=$WINEPREFIX/drive_c/Program\ Files/Tarsolin
shortcut=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Tarsolin.lnk
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarsolin'

# Waits for a path to come or go: the uninstaller copies itself to a temporary folder and
# runs from there, so its first process ends before the work is done.
wait_for() {
  local want=$1 path=$2
  for _ in $(seq 60); do
    if [ "$want" = present ] && [ -e "$path" ]; then return 0; fi
    if [ "$want" = absent ] && [ ! -e "$path" ]; then return 0; fi
    sleep 0.5
  done
  return 1
}

registry_value() {
  timeout 30 wine reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

check_installer() {
  local installer=$1 version
  version=$(basename "$installer" | sed -n 's/^tarsolin-\(.*\)-instalador\.exe$/\1/p')
  local ok=0
  wine_run 120 "$installer" /S >/dev/null || { echo "el instalador terminó con error"; return 1; }
  for f in tarsolin.exe jetrepair.exe desinstalar.exe; do
    [ -f "$installed/$f" ] || { echo "no se ha instalado $f"; ok=1; }
  done
  [ -f "$shortcut" ] || { echo "falta el acceso directo del menú Inicio"; ok=1; }
  [ "$(registry_value DisplayVersion)" = "$version" ] || { echo "DisplayVersion: $(registry_value DisplayVersion)"; ok=1; }
  [ "$(registry_value DisplayName)" = "Tarsolin" ] || { echo "DisplayName: $(registry_value DisplayName)"; ok=1; }
  [ -n "$(registry_value Publisher)" ] || { echo "falta Publisher"; ok=1; }
  [[ "$(registry_value UninstallString)" == *'desinstalar.exe"' ]] || { echo "UninstallString: $(registry_value UninstallString)"; ok=1; }
  echo "instalado en C:\Program Files\Tarsolin; Agregar o quitar programas: $(registry_value DisplayName) $(registry_value DisplayVersion), $(registry_value Publisher)"

  wine_run 30 'C:\Program Files\Tarsolin\jetrepair.exe' --version >/dev/null || { echo "jetrepair.exe --version falló"; ok=1; }
  grep -q "jetrepair $version" "$work/last.log" || { echo "jetrepair.exe --version no dice $version"; ok=1; }
  wine_run 90 window_test.exe 'C:\Program Files\Tarsolin\tarsolin.exe' 'starts with one window|version information' || ok=1

  wine_run 60 'C:\Program Files\Tarsolin\desinstalar.exe' /S >/dev/null || { echo "el desinstalador terminó con error"; ok=1; }
  wait_for absent "$installed" || { echo "queda la carpeta instalada:"; ls -la "$installed"; ok=1; }
  [ ! -e "$shortcut" ] || { echo "queda el acceso directo del menú Inicio"; ok=1; }
  if timeout 30 wine reg query "$uninstall_key" >/dev/null 2>&1; then echo "queda la clave $uninstall_key"; ok=1; fi
  [ "$ok" -eq 0 ] && echo "desinstalado: no quedan archivos, acceso directo ni clave del registro"
  return "$ok"
}
