#!/usr/bin/env bash
# The drive through its FUSE mount against the same service read directly:
#   - `ls -l` of a 10 000-item folder (cold: the daemon lists it through the
#     extension) against fetching the same pages with curl;
#   - `cat` of a document through the mount (first read fetches it) against
#     downloading the same bytes with curl, for 64 MiB and a larger size;
#   - the daemon's peak memory after each, which must not grow with file size.
#   bench/mount_bench.sh [MiB]      (default 256)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-256}"
build=build-bench
bin="$build/bin"
for program in ostrel-reference-service ostrel-fileproviderd ostrel_drive_helper; do
  [ -x "$bin/$program" ] || { echo "run scripts/bench first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/ostrel-mount-bench-XXXXXX)
export OSTREL_HOME="$work/home" OSTREL_XPC_DIR="$work/xpc"
mkdir -p "$OSTREL_HOME" "$work/mnt"
cleanup() {
  kill "$feeder" 2>/dev/null || true
  kill -TERM "$daemon" 2>/dev/null || true
  wait "$daemon" 2>/dev/null || true
  kill "$service" 2>/dev/null || true
  wait "$service" 2>/dev/null || true
  rm -rf "$work" "$data"
}
feeder="" daemon="" service="" data=""
trap cleanup EXIT

# The service's store in memory when possible: seeding 10 000 items is then quick.
data="$work/data"
[ -d /dev/shm ] && data=$(mktemp -d /dev/shm/ostrel-mount-bench-XXXXXX)
"$bin/ostrel-reference-service" --listen 127.0.0.1:0 --data "$data" --seed demo --token bench > "$work/out" &
service=$!
for _ in $(seq 100); do [ -s "$work/out" ] && break; sleep 0.1; done
base=$(head -n1 "$work/out")

seconds() { python3 -c "import time; print(time.monotonic())"; }
ratio() { python3 -c "print(f'{$1 / $2:.2f}')"; }
quote() { python3 -c "import urllib.parse,sys; print(urllib.parse.quote(sys.argv[1], safe=''))" "$1"; }
peak_kib() { awk '/VmHWM/ {print $2}' "/proc/$daemon/status"; }

# A writable folder, a 10 000-item folder in it and the documents to read.
python3 - "$base" "$size_mib" "$work" <<'PY'
import http.client, json, os, sys, urllib.parse
base, size_mib, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
url = urllib.parse.urlsplit(base)
conn = http.client.HTTPConnection(url.hostname, url.port)
auth = {"Authorization": "Bearer bench", "Content-Type": "application/json"}
def call(method, path, body=None):
    conn.request(method, "/api/drive/" + path, json.dumps(body) if body is not None else None, auth)
    answer = conn.getresponse()
    data = answer.read()
    assert answer.status < 300, (path, answer.status, data)
    return json.loads(data) if data else None
for matter in call("GET", "containers/my-matters/items?limit=500")["items"]:
    folders = [c for c in call("GET", "containers/%s/items?limit=500" % urllib.parse.quote(matter["identifier"], safe=""))["items"]
               if c["identifier"].startswith("folder:") and "add_children" in c["capabilities"]]
    if folders:
        folder = folders[0]
        break
big = call("POST", "items", {"parent": folder["identifier"], "filename": "bench-10k", "kind": "container"})["item"]
for i in range(10000):
    call("POST", "items", {"parent": big["identifier"], "filename": "item-%05d" % i, "kind": "container"})
for mib in (64, size_mib):
    name = "bench-%d.pdf" % mib
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        for _ in range(mib):
            f.write(os.urandom(1024 * 1024))
    slot = call("POST", "uploads", {"item": folder["identifier"], "filename": name, "size": mib * 1024 * 1024})
    put = urllib.parse.urlsplit(slot["url"])
    upload = http.client.HTTPConnection(put.hostname, put.port)
    with open(path, "rb") as f:
        upload.request("PUT", put.path + ("?" + put.query if put.query else ""), f,
                       {"Content-Type": "application/octet-stream", "X-Ostrel-Upload": slot["headers"]["X-Ostrel-Upload"],
                        "Content-Length": str(mib * 1024 * 1024)})
    assert upload.getresponse().status == 201
    os.remove(path)
    doc = call("POST", "items", {"parent": folder["identifier"], "filename": name, "upload_id": slot["upload_id"]})["item"]
    with open(os.path.join(work, "docs"), "a") as f:
        f.write("%d %s\n" % (mib, doc["identifier"]))
top = call("GET", "items/my-matters")["filename"]
with open(os.path.join(work, "paths"), "w") as f:
    f.write("%s/%s/%s\n%s\n" % (top, matter["filename"], folder["filename"], big["identifier"]))
PY
folder_path=$(sed -n 1p "$work/paths")
big_id=$(sed -n 2p "$work/paths")

"$bin/ostrel-fileproviderd" --mount-root "$work/mnt" 2> "$work/daemon.log" &
daemon=$!
for _ in $(seq 100); do [ -S "$OSTREL_XPC_DIR/local.ostrel.fileproviderd.sock" ] && break; sleep 0.1; done
"$bin/ostrel_drive_helper" register bench "Bench" "$base" > /dev/null
mount="$work/mnt/Bench"
for _ in $(seq 100); do mountpoint -q "$mount" && break; sleep 0.1; done
( echo "{\"type\":\"token\",\"token\":\"bench\",\"expires_at\":$(( $(date +%s) + 3600 ))}"
  echo $BASHPID > "$work/feeder.pid"; exec sleep infinity ) | "$bin/ostrel_drive_helper" serve bench > "$work/serve.out" &
for _ in $(seq 50); do [ -s "$work/feeder.pid" ] && break; sleep 0.1; done
feeder=$(cat "$work/feeder.pid")
for _ in $(seq 100); do grep -q attached "$work/serve.out" && break; sleep 0.1; done

# Listing: the raw pages against ls -l through the mount (first listing).
t0=$(seconds)
page=""
pages=0
while :; do
  answer=$(curl -sf -H "Authorization: Bearer bench" \
    "$base/api/drive/containers/$(quote "$big_id")/items?limit=500${page:+&page=$page}")
  pages=$((pages + 1))
  page=$(echo "$answer" | python3 -c "import json,sys; p=json.load(sys.stdin)['next_page']; print(p or '')")
  [ -n "$page" ] || break
done
t1=$(seconds)
raw=$(python3 -c "print($t1 - $t0)")
t0=$(seconds)
count=$(ls -l "$mount/$folder_path/bench-10k" | tail -n +2 | wc -l)
t1=$(seconds)
listed=$(python3 -c "print($t1 - $t0)")
t0=$(seconds)
ls -l "$mount/$folder_path/bench-10k" > /dev/null
t1=$(seconds)
again=$(python3 -c "print($t1 - $t0)")
echo "listing 10 000 items ($count shown, $pages pages)"
echo "  curl pages ${raw}s, ls -l through the mount ${listed}s (ratio $(ratio "$listed" "$raw")), again from the cache ${again}s"
echo "  daemon peak RSS $(peak_kib) KiB"

# Reading: curl of the transfer address against cat through the mount.
for mib in 64 "$size_mib"; do
  name="bench-$mib.pdf"  # a document: a folder holding its versions
  doc=$(awk -v mib="$mib" '$1 == mib {print $2}' "$work/docs")
  version=$(curl -sf -H "Authorization: Bearer bench" "$base/api/drive/containers/$(quote "$doc")/items?limit=1" \
    | python3 -c "import json,sys; print(json.load(sys.stdin)['items'][0]['identifier'])")
  url=$(curl -sf -X POST -H "Authorization: Bearer bench" -H "Content-Type: application/json" -d '{}' \
    "$base/api/drive/items/$(quote "$version")/content-url" \
    | python3 -c "import json,sys; print(json.load(sys.stdin)['url'])")
  t0=$(seconds)
  curl -sf -o /dev/null "$url"
  t1=$(seconds)
  curl_mbps=$(python3 -c "print(f'{$mib / ($t1 - $t0):.1f}')")
  t0=$(seconds)
  cat "$mount/$folder_path/$name/bench-$mib (v1).pdf" > /dev/null
  t1=$(seconds)
  cat_mbps=$(python3 -c "print(f'{$mib / ($t1 - $t0):.1f}')")
  t0=$(seconds)
  cat "$mount/$folder_path/$name/bench-$mib (v1).pdf" > /dev/null
  t1=$(seconds)
  warm_mbps=$(python3 -c "print(f'{$mib / ($t1 - $t0):.1f}')")
  echo "reading $mib MiB"
  echo "  curl ${curl_mbps} MiB/s, cat through the mount ${cat_mbps} MiB/s (ratio $(ratio "$cat_mbps" "$curl_mbps")), again from the local copy ${warm_mbps} MiB/s"
  echo "  daemon peak RSS $(peak_kib) KiB"
done
