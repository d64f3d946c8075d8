#!/usr/bin/env bash
# The quorvel tool against the standard tools, side by side in one sitting:
#   base64 encode|decode   200 MB   coreutils base64 / base64 -d
#   lzss compress          200 MB   gzip -1
#   json format             80 MB   jq -c .
#   csv to-json             50 MB   Python's csv and json modules
# Each pair runs alternately, ROUNDS times (default 3), after one untimed
# run of each; the table shows the median wall time of each side, their
# ratio (below 1: ours is faster), the largest resident size of each, and
# whether the target holds. Input files are made once under $BENCH_DIR
# (default /tmp/quorvel-cli-bench) and kept for later runs.
#
# Usage: bench/cli_bench.sh [QUORVEL]   (default build/bench/bin/quorvel)
#        ONLY=REGEX bench/cli_bench.sh   only the rows whose name matches
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/bench/bin/quorvel}
rounds=${ROUNDS:-3}
dir=${BENCH_DIR:-/tmp/quorvel-cli-bench}
python=$(command -v /usr/bin/python3 || command -v python3 || true)
gnu_time=/usr/bin/time

if [ ! -x "$tool" ]; then
  echo "cli_bench: no tool at $tool (make bench builds it)" >&2
  exit 1
fi
if [ ! -x "$gnu_time" ]; then
  echo "cli_bench: GNU time (/usr/bin/time, package time) is needed" >&2
  exit 1
fi
mkdir -p "$dir"

# ------------------------------------------------------------------ inputs

# 200 MB of real text: the files under /usr/include and /usr/share/doc that
# hold no zero byte in their first 4 KiB, in path order, over and over.
text=$dir/text-200M
if [ ! -s "$text" ]; then
  echo "cli_bench: making $text"
  find /usr/include /usr/share/doc -type f -size -2M 2>/dev/null | sort |
    while read -r f; do
      head -c 4096 "$f" | grep -qaP '\x00' || cat "$f"
    done | head -c 1000000000 >"$text.part"
  : >"$text"
  while [ "$(stat -c %s "$text")" -lt 209715200 ]; do
    cat "$text.part" >>"$text"
  done
  truncate -s 209715200 "$text"
  rm -f "$text.part"
fi
b64=$dir/text-200M.b64
[ -s "$b64" ] || base64 "$text" >"$b64"

json=$dir/records-80M.json
csv=$dir/records-50M.csv
if [ -n "$python" ] && { [ ! -s "$json" ] || [ ! -s "$csv" ]; }; then
  echo "cli_bench: making $json and $csv"
  "$python" - "$json" "$csv" <<'EOF'
import csv, json, random, sys
random.seed(7)
words = ("alpha beta gamma delta résumé naïve Zürich 東京 quote\"d "
         "comma,separated line\nbreak plain text value").split(" ")
def record(i):
    return {"id": i, "name": " ".join(random.choice(words) for _ in range(3)),
            "price": round(random.uniform(0, 1000), 2),
            "ratio": random.random(), "count": random.randint(-10**6, 10**6),
            "active": random.random() < 0.5, "note": None,
            "tags": [random.choice(words) for _ in range(random.randint(0, 4))],
            "address": {"city": random.choice(words), "zip": "%05d" % i}}
with open(sys.argv[1], "w", encoding="utf-8") as out:
    out.write("[")
    size, i = 0, 0
    while size < 80 * 2**20:
        text = json.dumps(record(i), ensure_ascii=False)
        out.write(("," if i else "") + "\n" + text)
        size += len(text.encode()) + 2
        i += 1
    out.write("]\n")
with open(sys.argv[2], "w", encoding="utf-8", newline="") as out:
    w = csv.writer(out)
    w.writerow(["id", "name", "price", "ratio", "count", "active", "city",
                "zip"])
    i = 0
    while out.tell() < 50 * 2**20:
        r = record(i)
        w.writerow([r["id"], r["name"], r["price"], r["ratio"], r["count"],
                    r["active"], r["address"]["city"], r["address"]["zip"]])
        i += 1
EOF
fi

# --------------------------------------------------------------- measuring

# Runs a command line once with INPUT on standard input and the output
# thrown away; prints "SECONDS MAX_RSS_KB".
measure() {
  local input=$1 command=$2
  "$gnu_time" -f '%e %M' -o "$dir/time.out" bash -c "$command" \
    <"$input" >/dev/null 2>"$dir/stderr.out" || {
    echo "cli_bench: failed: $command" >&2
    cat "$dir/stderr.out" >&2
    return 1
  }
  cat "$dir/time.out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

rows=()
# compare NAME INPUT OURS PEER PEER_NAME TIME_TARGET RSS_TARGET
#   TIME_TARGET: the largest ratio ours/peer that meets the target
#   RSS_TARGET:  "<64" (MB) or "x1.5" (times the peer's)
compare() {
  local name=$1 input=$2 ours=$3 peer=$4 peer_name=$5 time_target=$6
  local rss_target=$7
  [[ $name =~ ${ONLY:-.} ]] || return
  if [ ! -s "$input" ]; then
    rows+=("$name|-|-|-|-|-|skipped: no input")
    return
  fi
  echo "== $name: quorvel vs $peer_name, $rounds rounds"
  measure "$input" "$ours" >/dev/null && measure "$input" "$peer" >/dev/null ||
    return
  local ot=() pt=() orss=0 prss=0 t m
  for ((r = 0; r < rounds; r++)); do
    read -r t m < <(measure "$input" "$ours") || return
    ot+=("$t")
    ((m > orss)) && orss=$m
    read -r t m < <(measure "$input" "$peer") || return
    pt+=("$t")
    ((m > prss)) && prss=$m
  done
  local o p ratio omb pmb ok_time ok_rss verdict
  o=$(printf '%s\n' "${ot[@]}" | median)
  p=$(printf '%s\n' "${pt[@]}" | median)
  ratio=$(awk -v o="$o" -v p="$p" 'BEGIN { printf "%.2f", (p > 0 ? o / p : 0) }')
  omb=$(awk -v k="$orss" 'BEGIN { printf "%.0f", k / 1024 }')
  pmb=$(awk -v k="$prss" 'BEGIN { printf "%.0f", k / 1024 }')
  ok_time=$(awk -v r="$ratio" -v t="$time_target" 'BEGIN { print (r <= t) ? "yes" : "no" }')
  if [ "$rss_target" = "-" ]; then
    ok_rss="no target"
  elif [[ $rss_target == x* ]]; then
    ok_rss=$(awk -v o="$orss" -v p="$prss" -v f="${rss_target#x}" \
      'BEGIN { print (o <= f * p) ? "yes" : "no" }')
  else
    ok_rss=$(awk -v o="$omb" -v l="${rss_target#<}" 'BEGIN { print (o < l) ? "yes" : "no" }')
  fi
  verdict="time <=${time_target}x: $ok_time, memory $rss_target: $ok_rss"
  rows+=("$name|${o}s|${p}s ($peer_name)|$ratio|${omb} MB|${pmb} MB|$verdict")
}

compare "base64 encode 200 MB" "$text" "$tool base64 encode" "base64" \
  "base64" 1.5 "<64"
compare "base64 decode 200 MB" "$b64" "$tool base64 decode" "base64 -d" \
  "base64 -d" 1.5 "<64"
compare "lzss compress 200 MB" "$text" "$tool lzss compress" "gzip -1 -c" \
  "gzip -1" 1.0 "<64"
if command -v jq >/dev/null; then
  compare "json format 80 MB" "$json" "$tool json format" "jq -c ." "jq -c" \
    1.0 "x1.5"
else
  rows+=("json format 80 MB|-|-|-|-|-|skipped: jq missing")
fi
if [ -n "$python" ]; then
  compare "csv to-json 50 MB" "$csv" "$tool csv to-json" \
    "$python -c 'import csv, io, json, sys; sys.stdout.write(json.dumps(list(csv.DictReader(io.TextIOWrapper(sys.stdin.buffer, encoding=\"utf-8\", newline=\"\"))), ensure_ascii=False, separators=(\",\", \":\")))'" \
    "python csv+json" 0.5 "-"
else
  rows+=("csv to-json 50 MB|-|-|-|-|-|skipped: python3 missing")
fi

echo
printf '%-22s %9s %-26s %6s %9s %9s  %s\n' "benchmark" "ours" "peer" \
  "ratio" "our RSS" "peer RSS" "target"
for row in "${rows[@]}"; do
  IFS='|' read -r name o p ratio omb pmb verdict <<<"$row"
  printf '%-22s %9s %-26s %6s %9s %9s  %s\n' "$name" "$o" "$p" "$ratio" \
    "$omb" "$pmb" "$verdict"
done
