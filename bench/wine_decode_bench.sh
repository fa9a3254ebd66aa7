#!/usr/bin/env bash
# The real launcher.exe under Wine against the limit of its own architecture,
# from packages of 16, 64 and 256 MiB of real code (a Windows program first,
# then this machine's own programs), everything measured as whole processes
# inside the same Wine environment (on either backend), CPU time and peak
# memory by /usr/bin/time, each the best of five interleaved rounds (the
# spread of the rounds printed beside each ratio):
#  - launcher.exe, whole run: validation with the CRC over header and payload,
#    decoding, the temporary copy, the start of the setup program and the wait;
#  - bare decode (build/windows/win_bare_decode.exe): the same 32-bit liblzma
#    decoding the same stream into one block allocated beforehand, nothing else;
#  - floor (the same program with a copy's name): one read of the stream, the
#    decoding, one WriteFile of the whole block to a copy and its deletion:
#    what the launcher's steps need, and nothing the launcher could leave out;
#  - floor with the CRC: the same, with the launcher's CRC-32 over the stream
#    first (the launcher checks its CRC region before decoding; under software
#    emulation the carry-less multiplication it folds with is slow);
#  - xz --format=lzma -dc on the same stream (a 64-bit liblzma);
#  - the decoding step alone, in-process (build/windows/win_decode_bench.exe),
#    to tell the decoding from the rest of the run.
# Each process's CPU is taken beyond its own start-up (the same program on a
# 64 KiB package), and split into user and system time: beyond the decoding,
# the launcher reads the package a second time for the CRC and writes the
# copy, which is system time (a write of 256 MiB alone costs 0.1 to 0.8 s of
# it here, by how warm the page cache is). Goals: the whole run at most 1.05 times the floor at
# each size; flat (the same ms/MiB at 16, 64 and 256 MiB); peak memory over
# the floor (compressed + uncompressed + dictionary) no more than a tiny
# package's peak (Wine's own); the image within its budget (CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/bench-wine
rm -rf "$work"; mkdir -p "$work"
dictionary=$((4 * 1048576))
package() {  # package NAME BYTES
  cp build/windows/sample_setup32.exe "$work/code.bin"
  set +o pipefail  # head ends the pipe early on purpose
  find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
    xargs -0 cat 2>/dev/null | head -c "$(($2 - $(stat -c %s "$work/code.bin")))" >>"$work/code.bin"
  set -o pipefail
  build/linux/bin/setup-package build -q --launcher build/windows/launcher.exe --program32 "$work/code.bin" \
    --lzma-preset 1 --dictionary "$dictionary" --output "$work/$1.exe"
  rm "$work/code.bin"
  # The same stream as a .lzma file for the bare decode and xz.
  build/linux/bin/setup-package inspect --json "$work/$1.exe" | python3 -c '
import json, struct, sys
h = json.load(sys.stdin)["header"]; p = h["payload32"]
props = (h["pb"] * 5 + h["lp"]) * 9 + h["lc"]
with open(sys.argv[1], "rb") as f:
    f.seek(p["offset"]); stream = f.read(p["compressedSize"])
with open(sys.argv[2], "wb") as out:
    out.write(struct.pack("<BIQ", props, h["dictionarySize"], p["uncompressedSize"]) + stream)
with open(sys.argv[3], "a") as sizes:
    sizes.write("%s %d %d\n" % (sys.argv[4], p["compressedSize"], p["uncompressedSize"]))
' "$work/$1.exe" "$work/$1.lzma" "$work/sizes.txt" "$1"
}
package bench0 65536
for mib in 16 64 256; do package "bench$mib" $((mib * 1048576)); done
cp build/windows/win_decode_bench.exe build/windows/win_bare_decode.exe "$work/"

cat >"$work/job.sh" <<'JOB'
. ./wine-job.sh
use_prefix win64
export WINEDEBUG=-all
start_servers
echo "processor: $(grep -m1 -o 'pclmulqdq' /proc/cpuinfo || echo 'no') carry-less multiplication; $(xz --version | head -1)"
temp=$(temp_folder)
# measure WHAT SIZE COMMAND...: one run: "WHAT SIZE user sys peak-KiB"
measure() {
  what=$1 size=$2; shift 2
  /usr/bin/time -f '%U %S %M' -o one.time "$@" >/dev/null 2>&1 || echo "$what $size: exit code $?" >&2
  rm -f "$temp"/*
  echo "$what $size $(cat one.time)" >>figures.txt
}
wine ./bench0.exe >/dev/null 2>&1; rm -f "$temp"/*   # warm-up
# Rounds interleaved, so that a busy moment of the machine falls on every
# program alike; the figures take each one's best round.
for round in 1 2 3 4 5; do
  for mib in 0 16 64 256; do
    measure launcher "$mib" wine "./bench$mib.exe"
    measure bare "$mib" wine ./win_bare_decode.exe "bench$mib.lzma"
    measure floor "$mib" wine ./win_bare_decode.exe "bench$mib.lzma" floor-copy.bin
    measure floorcrc "$mib" wine ./win_bare_decode.exe "bench$mib.lzma" floor-copy.bin crc
    measure xz "$mib" xz --format=lzma -dc "bench$mib.lzma"
  done
done
echo "decoding step in-process (reading the stream and decoding, second of two):"
wine ./win_decode_bench.exe bench16.exe bench64.exe bench256.exe 2>/dev/null | tr -d '\r'
stop_servers
JOB
backend=$(scripts/wine/backend.sh)
WINE_JOB_TIMEOUT=3600 scripts/wine/run.sh "$work"
echo "under Wine ($backend backend):"
cat "$work/job.log"
[ -s "$work/figures.txt" ] || { echo "wine bench: the job measured nothing" >&2; exit 1; }
. scripts/common.sh
size=$(stat -c %s build/windows/launcher.exe)
python3 - "$work/figures.txt" "$work/sizes.txt" "$dictionary" "$size" "$(image_budget)" <<'PY'
import sys
fig = {}
user = {}
rounds = {}  # every round's CPU, for the spread
for line in open(sys.argv[1]):
    what, mib, u, s, peak = line.split()
    key, cpu = (what, int(mib)), float(u) + float(s)
    rounds.setdefault(key, []).append(cpu)
    if key not in fig or cpu < fig[key][0]:
        fig[key] = (cpu, int(peak) * 1024)
        user[key] = float(u)
def spread(what, m):  # how far the rounds lie apart, beyond the start-up: (worst - best) / best
    r = sorted(c - fig[(what, 0)][0] for c in rounds[(what, m)])
    return (r[-1] - r[0]) / r[0] * 100 if r[0] > 0 else 0.0
sizes = {int(n[5:]): (int(c), int(u)) for n, c, u in (l.split() for l in open(sys.argv[2]))}
dictionary, image, budget = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
def per_mib(what, m):  # CPU ms per MiB beyond the program's own start-up
    return (fig[(what, m)][0] - fig[(what, 0)][0]) * 1000 / m
print("CPU ms/MiB beyond each program's start-up (launcher.exe start-up %.0f ms, bare %.0f ms, floor %.0f ms, xz %.0f ms):"
      % tuple(fig[(w, 0)][0] * 1000 for w in ("launcher", "bare", "floor", "xz")))
for m in (16, 64, 256):
    l, f = per_mib("launcher", m), per_mib("floor", m)
    print("  %3d MiB: launcher/floor %.3f (goal at most 1.05: %s; best of %d rounds, spread launcher %.1f %%, floor %.1f %%); launcher/(floor with the CRC) %.3f"
          % (m, l / f, "met" if l / f <= 1.05 else "not met", len(rounds[("launcher", m)]), spread("launcher", m),
             spread("floor", m), l / per_mib("floorcrc", m)))
for m in (16, 64, 256):
    l, f, b, x = (per_mib(w, m) for w in ("launcher", "floor", "bare", "xz"))
    print("  %3d MiB: launcher %.1f, floor %.1f, bare decode %.1f, xz %.1f; launcher/bare %.3f; launcher/xz %.2f"
          % (m, l, f, b, x, l / b, l / x))
print("where the rest goes: user (computing) and system (memory, file reading and writing) time, ms/MiB:")
for m in (16, 64, 256):
    lu, bu = ((user[(w, m)] - user[(w, 0)]) * 1000 / m for w in ("launcher", "bare"))
    ls, bs = (per_mib(w, m) - u for w, u in (("launcher", lu), ("bare", bu)))
    print("  %3d MiB: launcher user %.1f + system %.1f; bare decode user %.1f + system %.1f; user alone %.3fx"
          % (m, lu, ls, bu, bs, lu / bu))
print("flatness, ms/MiB against 16 MiB: launcher %s; bare %s"
      % tuple(" / ".join("%.2f" % (per_mib(w, m) / per_mib(w, 16)) for m in (16, 64, 256)) for w in ("launcher", "bare")))
tiny = fig[("launcher", 0)][1]
for m in (16, 64, 256):
    c, u = sizes[m]
    floor = c + u + min(dictionary, u)
    over = fig[("launcher", m)][1] - floor
    print("  %3d MiB: peak %.1f MiB over the floor of %.1f MiB; a tiny package's whole peak %.1f MiB (goal: not more: %s)"
          % (m, over / 1048576, floor / 1048576, tiny / 1048576, "met" if over <= tiny else "not met"))
print("image: %d bytes (goal at most %d: %s)" % (image, budget, "met" if image <= budget else "not met"))
PY
