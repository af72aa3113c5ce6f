#!/usr/bin/env bash
# Pictures of the bench under Xvfb with a window manager (openbox), scene by
# scene (`screenshots.sh [all|unplugged|refused|log|playback|sweep|sequence|help|aer320]`,
# every scene when none is named; aer320 is every window on the built-in
# AER-320 board, its missing test-pattern mode asked for): the whole
# screen as shots/<scene>.png,
# then each of the bench's windows raised in turn and taken with its frame
# as shots/<scene>-<title>.png. Installs imagemagick and xdotool if missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
command -v /usr/bin/import >/dev/null || apt-get install -y -q imagemagick x11-apps
command -v xdotool >/dev/null || apt-get install -y -q xdotool
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target pravel -j2 >/dev/null
mkdir -p "$root/run" "$root/shots"
cd "$root/run"
mkdir -p sequences && cp "$root"/sequences/*.json sequences/  # for the sequence scene
scenes=("$@")
[ ${#scenes[@]} -gt 0 ] || scenes=(all unplugged refused log playback sweep sequence help aer320)
for scene in "${scenes[@]}"; do
  SCENE="$scene" "$root/scripts/with_window_manager.sh" bash -c '
    if [ "$SCENE" = all ]; then ../build/bin/pravel --demo 2> demo.log & pid=$!
    elif [ "$SCENE" = aer320 ]; then
      ../build/bin/pravel --demo sensor --sensor 320x240 2> demo.log & pid=$!
    else ../build/bin/pravel --demo "$SCENE" 2> demo.log & pid=$!; fi
    sleep 6
    /usr/bin/import -window root "../shots/$SCENE.png" && echo "shots/$SCENE.png"
    for id in $(xdotool search --onlyvisible --pid "$pid" --name "." 2>/dev/null); do
      title=$(xdotool getwindowname "$id")
      [ -n "$title" ] || continue
      xdotool windowmove --sync "$id" 0 0 2>/dev/null || true  # wholly on the screen
      xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowraise "$id"
      sleep 0.4
      name="$SCENE-$(tr -c "A-Za-z0-9\n" "_" <<<"$title")"
      /usr/bin/import -frame -window "$id" "../shots/$name.png" && echo "shots/$name.png"
    done
    kill $pid; wait $pid || true'
done
