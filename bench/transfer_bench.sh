#!/usr/bin/env bash
# Upload and download of one large file over loopback, through the drive
# client and through the curl command line, against the reference service.
# Prints throughput of each, their ratio, and the client's peak memory for
# two file sizes (it must not grow with the file).
#   bench/transfer_bench.sh [MiB]      (default 256)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-256}"
build=build-bench
service="$build/bin/ostrel-reference-service"
client="$build/bench-tools/drive_transfer"
[ -x "$service" ] && [ -x "$client" ] || { echo "run scripts/bench first" >&2; exit 1; }

work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true; rm -rf "$work"' EXIT
"$service" --listen 127.0.0.1:0 --data "$work/data" --seed demo --token bench > "$work/out" &
pid=$!
for _ in $(seq 100); do [ -s "$work/out" ] && break; sleep 0.1; done
base=$(head -n1 "$work/out")

api() { curl -sf -H "Authorization: Bearer bench" -H "Content-Type: application/json" "$@"; }
json() { python3 -c "import json,sys; d=json.load(sys.stdin); print(eval(sys.argv[1]))" "$1"; }

# A folder the partner may write to.
folder=$(python3 - "$base" <<'PY'
import json, sys, urllib.request
base = sys.argv[1]
def get(path):
    req = urllib.request.Request(base + path, headers={"Authorization": "Bearer bench"})
    return json.load(urllib.request.urlopen(req))
for m in get("/api/drive/containers/my-matters/items?limit=500")["items"]:
    for c in get("/api/drive/containers/%s/items?limit=500" % m["identifier"])["items"]:
        if c["identifier"].startswith("folder:") and "add_children" in c["capabilities"]:
            print(c["identifier"]); sys.exit(0)
sys.exit(1)
PY
)

# The shell's own clock: no process starts between the two timestamps.
seconds() { echo "$EPOCHREALTIME"; }
mbps() { awk -v mib="$1" -v t0="$2" -v t1="$3" 'BEGIN { printf "%.1f", mib / (t1 - t0) }'; }

run_size() {
  local mib=$1
  local file="$work/file-$mib.pdf"
  head -c "$((mib * 1024 * 1024))" /dev/urandom > "$file"

  # Through the client: slot request and streamed put.
  local t0 t1 rss
  t0=$(seconds)
  /usr/bin/time -f "%M" -o "$work/rss" "$client" upload "$base" bench "$file" "$folder" > "$work/upload-id"
  t1=$(seconds)
  rss=$(cat "$work/rss")
  local client_up; client_up=$(mbps "$mib" "$t0" "$t1")
  local client_up_rss=$rss

  # Through curl: the same slot request, then the put.
  local slot; slot=$(api -X POST "$base/api/drive/uploads" -d "{\"item\":\"$folder\",\"filename\":\"curl-$mib.pdf\",\"size\":$((mib * 1024 * 1024))}")
  local url; url=$(echo "$slot" | json 'd["url"]')
  local header; header=$(echo "$slot" | json '"X-Ostrel-Upload: " + d["headers"]["X-Ostrel-Upload"]')
  t0=$(seconds)
  curl -sf -o /dev/null -T "$file" -H "Content-Type: application/octet-stream" -H "$header" -H "Expect:" "$url"
  t1=$(seconds)
  local curl_up; curl_up=$(mbps "$mib" "$t0" "$t1")

  # A document of the client's upload, and its download address.
  local created; created=$(api -X POST "$base/api/drive/items" -d "{\"parent\":\"$folder\",\"filename\":\"bench-$mib.pdf\",\"upload_id\":\"$(cat "$work/upload-id")\"}")
  local doc; doc=$(echo "$created" | json 'd["item"]["identifier"]')
  local version; version=$(api "$base/api/drive/containers/$doc/items?limit=1" | json 'd["items"][0]["identifier"]')
  content_url() { api -X POST "$base/api/drive/items/$version/content-url" -d '{}' | json 'd["url"]'; }

  mkdir -p "$work/down"
  url=$(content_url)
  t0=$(seconds)
  /usr/bin/time -f "%M" -o "$work/rss" "$client" download "$base" bench "$url" "$work/down" > /dev/null
  t1=$(seconds)
  local client_down; client_down=$(mbps "$mib" "$t0" "$t1")
  local client_down_rss; client_down_rss=$(cat "$work/rss")
  rm -f "$work/down"/*

  url=$(content_url)
  t0=$(seconds)
  curl -sf -o "$work/down/curl.bin" "$url"
  t1=$(seconds)
  local curl_down; curl_down=$(mbps "$mib" "$t0" "$t1")
  rm -f "$work/down"/* "$file"

  echo "size ${mib} MiB"
  echo "  upload:   client ${client_up} MiB/s, curl ${curl_up} MiB/s, ratio $(python3 -c "print(f'{$client_up / $curl_up:.2f}')"), client peak RSS ${client_up_rss} KiB"
  echo "  download: client ${client_down} MiB/s, curl ${curl_down} MiB/s, ratio $(python3 -c "print(f'{$client_down / $curl_down:.2f}')"), client peak RSS ${client_down_rss} KiB"
}

run_size 64
run_size "$size_mib"
