#!/usr/bin/env bash
# Pictures of the bench under Xvfb with a window manager (openbox): every
# window opened from its menu entry (shots/all.png and one file per window,
# each raised in turn and taken with its frame), or one scene of the bench
# (`screenshots.sh unplugged|refused|log|playback|sweep|sequence|help`:
# shots/<scene>.png). Installs imagemagick and xdotool if missing.
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
scene="${1:-all}"
SCENE="$scene" "$root/scripts/with_window_manager.sh" bash -c '
  if [ "$SCENE" = all ]; then ../build/bin/pravel --demo 2> demo.log & pid=$!
  else ../build/bin/pravel --demo "$SCENE" 2> demo.log & pid=$!; fi
  sleep 6
  /usr/bin/import -window root "../shots/$SCENE.png"
  if [ "$SCENE" = all ]; then
    grep -o "Window \".*\" at" demo.log | sed "s/Window \"\(.*\)\" at/\1/" | sort -u |
    while read -r title; do
      id=$(xdotool search --name "^$title\$" | head -1)
      [ -n "$id" ] || continue
      xdotool windowmove --sync "$id" 20 20 2>/dev/null || true
      xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowraise "$id"
      sleep 0.5
      name=$(tr -c "A-Za-z0-9\n" "_" <<<"$title")
      /usr/bin/import -frame -window "$id" "../shots/$name.png" && echo "shots/$name.png"
    done
  fi
  kill $pid; wait $pid || true'
[ "$scene" = all ] || echo "shots/$scene.png"
