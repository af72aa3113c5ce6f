#!/usr/bin/env bash
# Pictures of the bench under Xvfb: with every window opened from its menu
# entry (shots/all.png and one file per window), or one scene of the bench
# (`screenshots.sh unplugged|refused|log|playback|sweep|sequence`:
# shots/<scene>.png). Installs
# imagemagick if missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
command -v /usr/bin/import >/dev/null || apt-get install -y -q imagemagick
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target pravel -j2 >/dev/null
mkdir -p "$root/run" "$root/shots"
cd "$root/run"
mkdir -p sequences && cp "$root"/sequences/*.json sequences/  # for the sequence scene
scene="${1:-all}"
SCENE="$scene" xvfb-run -a -s "-screen 0 1800x1150x24" bash -c '
  ../build/bin/pravel --demo "$SCENE" 2> demo.log & pid=$!
  sleep 6
  /usr/bin/import -window root "../shots/$SCENE.png"
  kill $pid; wait $pid || true'
if [ "$scene" != all ]; then echo "shots/$scene.png"; exit 0; fi
grep -o "Window \".*\" at [0-9x+]*" demo.log | while read -r line; do
  title=$(sed 's/Window "\(.*\)" at .*/\1/' <<<"$line")
  geometry=$(sed 's/.* at //' <<<"$line")
  name=$(tr -c 'A-Za-z0-9\n' '_' <<<"$title")
  /usr/bin/convert ../shots/all.png -crop "$geometry" +repage "../shots/$name.png"
  echo "shots/$name.png ($geometry)"
done
