#!/usr/bin/env bash
# Recording benchmark on a real X desktop: two xterms scrolling Korean text (NanumGothicCoding through
# Xft, anti-aliased) on a private 1280x800 Xvfb with openbox, recorded for SECONDS at 10 frames a
# second at the same time by our recorder (pelio-recgen --display: the server's screen capture and
# the ".srf" writer) and by ffmpeg's x11grab with libx264rgb lossless (-qp 0, preset ultrafast, the
# fastest lossless H.264 there is). The frames ffmpeg captured are then encoded again with preset medium
# (same frames, off line). Prints each one's size per minute and CPU in percent of one core per second
# recorded.
#
#   bench/record-desktop.sh BUILD_DIR [SECONDS] [OUT_DIR]   (default 120 seconds; OUT_DIR keeps the files)
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-120}
out=${3:-}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=""
for n in $(seq 140 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=$n; break; }
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdpyinfo -display ":$display" >/dev/null 2>&1 && break; sleep 0.1; done
export DISPLAY=":$display" LANG=C.UTF-8 LC_ALL=C.UTF-8
openbox >/dev/null 2>&1 &
pids+=($!)

# Lines of Korean words, numbers and hexadecimal, seeded so that every run shows the same text.
lines='import random, sys, time
words = ("고객 상담원 원격 지원 화면 연결 파일 전송 보고서 네트워크 설정 확인 프로그램 시작 오류 접근 "
         "거부 서버 주소 암호 사용자 계정 업데이트 설치 완료 실패 다시 시도 문서 폴더 저장 열기 닫기 인쇄 "
         "프린터 드라이버 메일 첨부 용량 초과 시간 날짜 요청 응답 대기 중 처리 결과 로그 기록 보안 인증서 만료").split()
r = random.Random(int(sys.argv[1]))
i = 0
while True:
    i += 1
    text = " ".join(r.choice(words) for _ in range(r.randint(4, 11)))
    print(f"{i:6d} {r.randint(0, 99999):05d} {text} 0x{r.getrandbits(32):08x}", flush=True)
    time.sleep(float(sys.argv[2]))'
term=(xterm -fa "DejaVu Sans Mono" -fd "NanumGothicCoding" -fs 10)
"${term[@]}" -geometry 88x48+0+0 -e python3 -c "$lines" 1 0.05 &
pids+=($!)
"${term[@]}" -geometry 88x48+640+60 -e python3 -c "$lines" 2 0.08 &
pids+=($!)
sleep 2

# Each recorder in a subshell that prints its CPU time ("times": user and system of its children).
( "$build/tools/recorder/pelio-recgen" "$work/desktop.srf" --display ":$display" --seconds "$seconds" \
    --fps 10 >/dev/null 2>&1; times ) > "$work/ours.times" &
ours=$!
( ffmpeg -loglevel error -nostdin -f x11grab -framerate 10 -video_size 1280x800 -i ":$display" \
    -t "$seconds" -c:v libx264rgb -qp 0 -preset ultrafast "$work/desktop.mkv"; times ) > "$work/x264.times" &
x264=$!
wait "$ours" "$x264"
( ffmpeg -loglevel error -nostdin -i "$work/desktop.mkv" -c:v libx264rgb -qp 0 -preset medium \
    "$work/medium.mkv"; times ) > "$work/medium.times"

cpu() {  # the children's line of "times": "0m1.234s 0m0.567s"
  tail -1 "$1" | awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); print u[1] * 60 + u[2] + s[1] * 60 + s[2] }'
}
minutes=$(awk -v s="$seconds" 'BEGIN { print s / 60 }')
printf '%-36s %10s %10s\n' "recorder ($seconds s, 1280x800, 10 fps)" "MB/min" "CPU %"
for r in ours x264 medium; do
  case $r in
    ours) f="$work/desktop.srf"; name="ours (.srf)" ;;
    x264) f="$work/desktop.mkv"; name="x11grab libx264rgb -qp 0 ultrafast" ;;
    medium) f="$work/medium.mkv"; name="the same frames, preset medium" ;;
  esac
  size=$(stat -c %s "$f")
  printf '%-36s %10.2f %10.1f\n' "$name" "$(awk -v b="$size" -v m="$minutes" 'BEGIN { print b / 1e6 / m }')" \
    "$(awk -v c="$(cpu "$work/$r.times")" -v s="$seconds" 'BEGIN { print 100 * c / s }')"
done
if [ -n "$out" ]; then mkdir -p "$out" && cp "$work/desktop.srf" "$work/desktop.mkv" "$work/medium.mkv" "$out/"; fi
