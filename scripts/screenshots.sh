#!/usr/bin/env bash
# Pictures of the bench under Xvfb with a window manager (openbox), scene by
# scene (`screenshots.sh [all|unplugged|refused|log|playback|sweep|sequence|help|aer320|
# aer320-served|fake-board]`, every scene when none is named; aer320 is every window on the
# built-in AER-320 board, its missing test-pattern mode asked for): the whole
# screen as shots/<scene>.png,
# then each of the bench's windows raised in turn and taken with its frame
# as shots/<scene>-<title>.png. The served scenes are the bench on a board
# server of its own (aer320-served: pravel-board --sensor 320x240;
# fake-board: the Python fake board of examples/python_board), its ADC
# monitor, DACs and device registers opened by their keys and the stream
# started: the whole screen only. Installs imagemagick and xdotool if missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh"
command -v /usr/bin/import >/dev/null || apt-get install -y -q imagemagick x11-apps
command -v xdotool >/dev/null || apt-get install -y -q xdotool
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" --target pravel pravel-board -j2 >/dev/null
mkdir -p "$root/run" "$root/shots"
cd "$root/run"
mkdir -p sequences && cp "$root"/sequences/*.json sequences/  # for the sequence scene
scenes=("$@")
[ ${#scenes[@]} -gt 0 ] ||
  scenes=(all unplugged refused log playback sweep sequence help aer320 aer320-served fake-board)
for scene in "${scenes[@]}"; do
  if [ "$scene" = aer320-served ] || [ "$scene" = fake-board ]; then
    SCENE="$scene" ROOT="$root" "$root/scripts/with_window_manager.sh" bash -c '
      rm -f board.out
      if [ "$SCENE" = aer320-served ]; then
        ../build/bin/pravel-board --sensor 320x240 --listen 127.0.0.1:0 > board.out 2>&1 &
      else
        "$ROOT/examples/python_client/generate.sh" stubs
        PYTHONPATH=stubs /usr/bin/python3 "$ROOT/examples/python_board/fake_board.py" \
          --listen 127.0.0.1:0 > board.out 2>&1 &
      fi
      server=$!
      for _ in $(seq 300); do grep -q "127\.0\.0\.1:" board.out 2>/dev/null && break; sleep 0.1; done
      address=$(grep -o "127\.0\.0\.1:[0-9]*" board.out | head -1)
      ../build/bin/pravel --board "$address" 2> served.log & pid=$!
      sleep 4
      main=$(xdotool search --onlyvisible --pid "$pid" --name "Pravel" | head -1)
      # The stream started, then the test pattern asked for where the Mode box
      # shows it (the board may refuse it), then the editors and the ADC
      # monitor opened by their keys, the monitor last and on top.
      xdotool windowactivate --sync "$main" 2>/dev/null || true
      xdotool key F5; sleep 1
      xdotool mousemove --window "$main" 21 323 click 1; sleep 1
      for key in ctrl+2 ctrl+1 ctrl+4; do
        xdotool windowactivate --sync "$main" 2>/dev/null || true
        xdotool key "$key"; sleep 1
      done
      sleep 3
      /usr/bin/import -window root "../shots/$SCENE.png" && echo "shots/$SCENE.png"
      kill $pid $server; wait $pid $server || true'
    continue
  fi
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
