#!/usr/bin/env bash
# A whole support session on one screen: installs what is missing, builds every program, and starts on
# 127.0.0.1 the reference web service with the demo data, the FTP drop box, the agent's console
# (pelio-agent console, with a second X server as the agent's own screen) and the customer's program
# pointed at them. Everything stops when the customer's program closes.
# Usage: scripts/demo.sh [command line of the program]
#   scripts/demo.sh            (the demo customer 홍길동 of company 1234)
#   scripts/demo.sh "5678/Hanbit"
#   scripts/demo.sh review     (the history viewer alone; with an empty history, a sample recording
#                               and transcript are made first)
# Without a display (no $DISPLAY), it starts a private Xvfb with a light window manager and says so.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target pelio pelio-service pelio-agent pelio-recgen

# The program keeps its settings and history beside itself: run a copy from a demo folder.
demo="${DEMO_DIR:-$build/demo}"
mkdir -p "$demo/userfiles/1234"
cp "$build/src/pelio" "$demo/pelio"
cp -r packaging/system "$demo/"

# Qt keeps runtime files in XDG_RUNTIME_DIR; a shell without a desktop session may not set it.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$demo/runtime"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fi

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# The display everything shows on: this one, or a private Xvfb with a light window manager.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :99 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=:99
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  XDG_DATA_DIRS=/usr/share openbox --sm-disable >/dev/null 2>&1 &
  pids+=($!)
  echo "demo: no display; started Xvfb on :99 with openbox"
fi

# The history viewer needs none of the session's set-up.
review=0
case "${1:-}" in [Rr][Ee][Vv][Ii][Ee][Ww]) review=1 ;; esac

if [ "$review" = 0 ]; then
  # The agent's key, made for this demo, and the demo data with its pin: the service vouches for the
  # agent 김상담, so the session runs encrypted and both sides show its check code.
  rm -f "$demo/agent-key.pem" "$demo/dropbox-key.pem"
  "$build/tools/agent/pelio-agent" keygen "$demo/agent-key.pem" > "$demo/agent-pin"
  python3 - "$demo/agent-pin" "$demo/demo-data.json" <<'PY'
import json, sys
pin = open(sys.argv[1]).read().strip()
data = json.load(open("tools/service/demo-data.json", encoding="utf-8"))
data["companies"]["1234"]["agents"][0]["pin"] = pin
json.dump(data, open(sys.argv[2], "w", encoding="utf-8"), ensure_ascii=False, indent=2)
PY
  echo "demo: the agent's key pin is $(cat "$demo/agent-pin")"

  # The reference web service on a free port; its first line names the port.
  "$build/tools/service/pelio-service" --data "$demo/demo-data.json" --files "$demo/userfiles" \
    > "$demo/service.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^listening on' "$demo/service.out" 2>/dev/null && break; sleep 0.1; done
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/service.out")
  [ -n "$port" ] || { echo "demo: the reference service did not start" >&2; cat "$demo/service.out" >&2; exit 1; }
  echo "demo: reference web service on http://127.0.0.1:$port/"

  # The FTP drop box for the customer's files, on the folder the service publishes as userfiles/, at the
  # program's built-in drop box address (127.0.0.1:2121, user pelio, password pelio). It takes nothing but
  # TLS, on a key it made; the program requires TLS and checks that key's pin (set below).
  /usr/bin/python3 tools/dropbox/pelio-dropbox.py --root "$demo/userfiles" --port 2121 \
    --tls-cert "$demo/dropbox-key.pem" --tls-required > "$demo/dropbox.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q 'starting FTP server' "$demo/dropbox.out" 2>/dev/null && break; sleep 0.1; done
  grep -q 'starting FTP server' "$demo/dropbox.out" ||
    echo "demo: the FTP drop box did not start (is port 2121 taken?); sending files will fail" >&2
  dropbox_pin=$(sed -n 's/^tls pin //p' "$demo/dropbox.out")
  # The agent's own screen, which the agent shows the customer with '\showme 김상담 1': a private X
  # server with a note on it; pelio-agent serves it through x11vnc while it is shown.
  Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$demo/agent-display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$demo/agent-display" ] && break; sleep 0.1; done
  agent_display=":$(head -n 1 "$demo/agent-display")"
  xmessage -display "$agent_display" -center "Agent's desktop" >/dev/null 2>&1 &
  pids+=($!)

  # The agent 김상담 of company 1234 (port 5500 in the demo data) waits in its console window for the
  # customer. The console also reads commands from a pipe: echo '\chat 안녕하세요' > "$demo/agent.in"
  # (see tools/agent/AgentConsoleWindow.h). Files the customer sends are kept in agent-received/; the
  # agent's own go out through userfiles/agent/.
  rm -f "$demo/agent.in" && mkfifo "$demo/agent.in"
  exec 3<>"$demo/agent.in"  # held open, so that each echo into the pipe does not end the agent's input
  "$build/tools/agent/pelio-agent" console 5500 --name 김상담 --key "$demo/agent-key.pem" --screen "$agent_display" \
    --share "$demo/userfiles/agent" "http://127.0.0.1:$port/userfiles/agent/" --received "$demo/agent-received" \
    < "$demo/agent.in" > "$demo/agent.out" 2>&1 &
  pids+=($!)
  echo "demo: the agent's console on 127.0.0.1:5500; its output in $demo/agent.out, its commands into $demo/agent.in"

  # Point the program at it (section "Service" of its settings file).
  ini="$demo/PelioRS.ini"
  touch "$ini"
  sed -i '/^\[Service\]/,/^\[/{/^ServiceRoot=/d;/^IpLookupRoot=/d}' "$ini"
  grep -q '^\[Service\]' "$ini" || printf '[Service]\n' >> "$ini"
  sed -i "/^\[Service\]/a ServiceRoot=http://127.0.0.1:$port/\nIpLookupRoot=http://127.0.0.1:$port/" "$ini"
  # ... and at the drop box's TLS (section "FileSend").
  sed -i '/^\[FileSend\]/,/^\[/{/^DropBoxTls=/d;/^DropBoxPin=/d}' "$ini"
  grep -q '^\[FileSend\]' "$ini" || printf '[FileSend]\n' >> "$ini"
  sed -i "/^\[FileSend\]/a DropBoxTls=1\nDropBoxPin=$dropbox_pin" "$ini"
fi

[ "$#" -eq 0 ] && set -- "1234/My+Company/홍길동/010-1234-5678/hong"

# The history viewer lists one folder per company; give an empty history a sample session to show.
history="$demo/원격지원 받은 이력"
if [ "${1,,}" = review ] && [ -z "$(find "$history" -mindepth 1 -maxdepth 1 -type d 2>/dev/null)" ]; then
  sample="$history/1234-MyCompany"
  mkdir -p "$sample"
  "$build/tools/recorder/pelio-recgen" "$sample/$(date +%F)(0).srf" --seconds 20 >/dev/null
  # The transcript as the chat window writes it, its lines timed a few seconds into the recording.
  python3 - "$sample/$(date +%F)(0).htm" <<'PY'
import datetime, sys
start = datetime.datetime.now()
def header(name, colour, seconds):
    t = start + datetime.timedelta(seconds=seconds)
    stamp = f"{t:%Y-%m-%d} {'오전' if t.hour < 12 else '오후'} {t.hour % 12 or 12}:{t:%M:%S}"
    return f"\r\n<br>\r\n<font size=2 color={colour}>{name} ({stamp})</font>:<br>\r\n"
lines = [("홍길동 / 010-1234-5678", "#008000", 2, "화면이 멈췄어요."),
         ("김상담", "blue", 6, "지금 확인해 드리겠습니다."),
         ("홍길동 / 010-1234-5678", "#008000", 12, "창을 닫으니 움직여요."),
         ("김상담", "blue", 17, "해결되었습니다. 감사합니다.")]
body = "".join(header(n, c, s) + text + "<br>\r\n" for n, c, s, text in lines)
open(sys.argv[1], "w", encoding="utf-8").write("\ufeff<html>" + body + "</body></html>")
PY
  echo "demo: the history was empty; made a sample recording and transcript in $sample"
fi
"$demo/pelio" "$@"
