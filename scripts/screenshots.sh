#!/usr/bin/env bash
# Takes the README's screenshots from the real program and the simulated mouse: the main
# window and every tab of the mouse's settings page, in Chinese and in English. Needs a build
# (scripts/build.sh); writes docs/screenshots/main-window-<lang>.png and
# docs/screenshots/settings-<tab>-<lang>.png.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/docs/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A copy of the application folder, so the shots change nothing of the build's.
cp -a "$root/build/app" "$work/app"
rm -f "$work/app/app.log" "$work/app"/dcsim.*
export VELMORA_SIM_STATE="$work/sim.state"
export QTWEBENGINE_DISABLE_SANDBOX=1

# Starts the program showing `loadPath`, waits for its page, and saves the window.
shoot() {
  local load_path="$1" file="$2"
  # "&" separates the address's parameters: "&amp;" in the attribute, "\&" for sed.
  local escaped
  escaped="$(printf '%s' "$load_path" | sed 's/&/\\\&amp;/g')"
  sed -i "s|loadPath=\"[^\"]*\"|loadPath=\"$escaped\"|" "$work/app/Resources/conf.xml"
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    cd "'"$work"'/app"
    ./velmora &
    program=$!
    sleep 12
    import -window Quillmere "'"$file"'" || import -window root "'"$file"'"
    kill $program
    wait $program 2>/dev/null || true
  '
  echo "saved $file"
}

for lang in zh en; do
  shoot "velmora://settings/local/resources/index.html?lang=$lang" "$out/main-window-$lang.png"
  for tab in performance buttons macros lighting device system profiles; do
    shoot "view/device/vm100/seting.html?lang=$lang&tab=$tab" "$out/settings-$tab-$lang.png"
  done
done
