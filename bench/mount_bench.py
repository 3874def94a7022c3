#!/usr/bin/env python3
"""The drive through its FUSE mount against the same service read directly.

Every time comes from this one process's monotonic clock. The two sides of a
comparison run interleaved, round after round, each on data the other has
not warmed, and each figure is printed as min / median / max over the rounds.

    bench/mount_bench.py BUILD_BIN_DIR [--mib 256] [--rounds 3]
"""
import argparse
import http.client
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

clock = time.monotonic


def spread(values, digits=2):
    return "min %.*f / median %.*f / max %.*f" % (digits, min(values), digits, statistics.median(values), digits,
                                                   max(values))


class Service:
    """The reference service, talked to over one kept connection."""

    def __init__(self, binary, work):
        data = tempfile.mkdtemp(prefix="ostrel-mount-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else work)
        self.data = data
        self.process = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--data", data, "--seed", "demo",
                                         "--token", "bench"], stdout=subprocess.PIPE, text=True)
        self.base = self.process.stdout.readline().strip()
        url = urllib.parse.urlsplit(self.base)
        self.host, self.port = url.hostname, url.port
        self.connection = http.client.HTTPConnection(self.host, self.port)

    def call(self, method, path, body=None, prefix="/api/drive/"):
        headers = {"Authorization": "Bearer bench", "Content-Type": "application/json"} if prefix == "/api/drive/" else {}
        for attempt in (1, 2):
            try:
                self.connection.request(method, prefix + path, json.dumps(body) if body is not None else None, headers)
                answer = self.connection.getresponse()
                data = answer.read()
                break
            except (ConnectionError, http.client.HTTPException):
                # The service closes a connection idle for a while: one more, on a new one.
                self.connection.close()
                self.connection = http.client.HTTPConnection(self.host, self.port)
                if attempt == 2:
                    raise
        if answer.status >= 300:
            raise RuntimeError("%s %s: %d %s" % (method, path, answer.status, data[:200]))
        return json.loads(data) if data else None

    def admin(self, method, path, body=None):
        return self.call(method, path, body, prefix="/admin/")

    def upload(self, folder, name, source, size):
        slot = self.call("POST", "uploads", {"item": folder, "filename": name, "size": size})
        put = urllib.parse.urlsplit(slot["url"])
        connection = http.client.HTTPConnection(put.hostname, put.port)
        with open(source, "rb") as body:
            connection.request("PUT", put.path + ("?" + put.query if put.query else ""), body,
                               {"Content-Type": "application/octet-stream",
                                "X-Ostrel-Upload": slot["headers"]["X-Ostrel-Upload"], "Content-Length": str(size)})
            assert connection.getresponse().status == 201
        return self.call("POST", "items", {"parent": folder, "filename": name, "upload_id": slot["upload_id"]})["item"]

    def newest_version(self, document):
        quoted = urllib.parse.quote(document, safe="")
        return self.call("GET", "containers/%s/items?limit=1" % quoted)["items"][0]

    def download_url(self, version):
        quoted = urllib.parse.quote(version, safe="")
        return self.call("POST", "items/%s/content-url" % quoted, {})["url"]

    def requests_to(self, fragment):
        return sum(1 for r in self.admin("GET", "requests")["requests"] if fragment in r["target"])

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)
        subprocess.run(["rm", "-rf", self.data])


class Drive:
    """The daemon mounting the domain "bench", and the helper carrying the token."""

    def __init__(self, bin_dir, service, work):
        self.work = work
        env = dict(os.environ, OSTREL_HOME=os.path.join(work, "home"), OSTREL_XPC_DIR=os.path.join(work, "xpc"))
        os.makedirs(env["OSTREL_HOME"], exist_ok=True)
        os.makedirs(os.path.join(work, "mnt"), exist_ok=True)
        self.env = env
        self.bin_dir = bin_dir
        self.log = open(os.path.join(work, "daemon.log"), "ab")
        self.daemon = subprocess.Popen([os.path.join(bin_dir, "ostrel-fileproviderd"), "--mount-root",
                                        os.path.join(work, "mnt")], env=env, stderr=self.log)
        socket = os.path.join(env["OSTREL_XPC_DIR"], "local.ostrel.fileproviderd.sock")
        wait_for(lambda: os.path.exists(socket))
        subprocess.run([os.path.join(bin_dir, "ostrel_drive_helper"), "register", "bench", "Bench", service.base],
                       env=env, check=True, stdout=subprocess.DEVNULL)
        self.mount = os.path.join(work, "mnt", "Bench")
        wait_for(lambda: os.path.ismount(self.mount))
        self.serve = subprocess.Popen([os.path.join(bin_dir, "ostrel_drive_helper"), "serve", "bench"], env=env,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        token = {"type": "token", "token": "bench", "expires_at": int(time.time()) + 3600}
        self.serve.stdin.write(json.dumps(token) + "\n")
        self.serve.stdin.flush()
        while "attached" not in self.serve.stdout.readline():
            pass

    def signal(self):
        self.serve.stdin.write(json.dumps({"type": "signal"}) + "\n")
        self.serve.stdin.flush()

    def peak_kib(self):
        with open("/proc/%d/status" % self.daemon.pid) as status:
            for line in status:
                if line.startswith("VmHWM"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.serve.terminate()
        self.serve.wait(timeout=20)
        self.daemon.terminate()
        self.daemon.wait(timeout=30)


def wait_for(condition, seconds=20):
    deadline = clock() + seconds
    while not condition():
        if clock() > deadline:
            raise RuntimeError("timed out")
        time.sleep(0.05)


def timed(command):
    started = clock()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return clock() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin_dir")
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="ostrel-mount-bench-")
    service = Service(os.path.join(args.bin_dir, "ostrel-reference-service"), work)
    drive = None
    try:
        # A writable folder of the partner's first matter that has one.
        for matter in service.call("GET", "containers/my-matters/items?limit=500")["items"]:
            quoted = urllib.parse.quote(matter["identifier"], safe="")
            folders = [c for c in service.call("GET", "containers/%s/items?limit=500" % quoted)["items"]
                       if c["identifier"].startswith("folder:") and "add_children" in c["capabilities"]]
            if folders:
                folder = folders[0]
                break
        top = service.call("GET", "items/my-matters")["filename"]
        folder_path = [top, matter["filename"], folder["filename"]]

        sources = {}
        for mib in sorted({1, 64, args.mib}):
            path = os.path.join(work, "source-%d" % mib)
            with open(path, "wb") as out:
                for _ in range(mib):
                    out.write(os.urandom(1 << 20))
            sources[mib] = path
        made = [0]

        def document(mib):
            """A document of `mib` MiB nobody read yet: its version's path in the mount and its id."""
            made[0] += 1
            name = "bench-%d-%d.pdf" % (mib, made[0])
            doc = service.upload(folder["identifier"], name, sources[mib], mib << 20)
            version = service.newest_version(doc["identifier"])
            path = os.path.join(drive.mount, *folder_path, name, version["filename"])
            # The mount hears of it through the change feed.
            drive.signal()
            wait_for(lambda: os.path.exists(path))
            return path, version["identifier"]

        listings = {}
        for entries in (1000, 10000, 50000):
            for round_ in range(args.rounds):
                big = service.call("POST", "items", {"parent": folder["identifier"],
                                                     "filename": "bench-%d-%d" % (entries, round_),
                                                     "kind": "container"})["item"]
                for i in range(entries):
                    service.call("POST", "items", {"parent": big["identifier"], "filename": "item-%05d" % i,
                                                   "kind": "container"})
                listings.setdefault(entries, []).append(big)

        drive = Drive(args.bin_dir, service, work)
        print("daemon peak RSS at start: %d KiB" % drive.peak_kib())

        # Listings: the raw pages over one kept connection against ls -l through the mount.
        for entries, folders in listings.items():
            ratios, again = [], []
            before = drive.peak_kib()
            for big in folders:
                started = clock()
                page = None
                quoted = urllib.parse.quote(big["identifier"], safe="")
                while True:
                    answer = service.call("GET", "containers/%s/items?limit=500%s" %
                                          (quoted, "&page=" + page if page else ""))
                    page = answer["next_page"]
                    if not page:
                        break
                raw = clock() - started
                path = os.path.join(drive.mount, *folder_path, big["filename"])
                ratios.append(timed(["ls", "-l", path]) / raw)
                again.append(timed(["ls", "-l", path]))
            print("ls -l of %d entries, cold, ÷ the raw pages: %s; again: %s s; daemon peak RSS %d -> %d KiB" %
                  (entries, spread(ratios), spread(again, 3), before, drive.peak_kib()))

        # Cold cat against curl of the same bytes, both to /dev/null; and
        # against curl writing a file, as the mount keeps what it fetched.
        kept = os.path.join(work, "curl-kept")
        for mib in (64, args.mib):
            ratios, to_file = [], []
            for _ in range(args.rounds):
                path, version = document(mib)
                curl = timed(["curl", "-sf", "-o", "/dev/null", service.download_url(version)])
                cat = timed(["cat", path])
                curl_file = timed(["curl", "-sf", "-o", kept, service.download_url(version)])
                os.remove(kept)
                ratios.append(curl / cat)
                to_file.append(curl_file / cat)
            print("cold cat of %d MiB, throughput ÷ curl's to /dev/null: %s; ÷ curl's to a file: %s" %
                  (mib, spread(ratios), spread(to_file)))
        print("daemon peak RSS after one cold read at a time: %d KiB" % drive.peak_kib())

        # Time to the first byte of a cold large file ÷ that of a cold 1 MiB file.
        ratios = []
        for _ in range(args.rounds):
            large, _ = document(args.mib)
            small, _ = document(1)
            first_large = timed(["head", "-c", "1", large])
            first_small = timed(["head", "-c", "1", small])
            ratios.append(first_large / first_small)
        print("first byte of a cold %d MiB file ÷ of a cold 1 MiB file: %s" % (args.mib, spread(ratios)))

        # ls -l of a listed folder while 64 cold opens wait on a slowed service.
        waiting = [document(1)[0] for _ in range(64)]
        listed_folder = os.path.join(drive.mount, *folder_path)
        subprocess.run(["ls", "-l", listed_folder], check=True, stdout=subprocess.DEVNULL)
        service.admin("POST", "faults", {"method": "GET", "path_prefix": "/transfers/download", "delay_ms": 8000,
                                         "count": 64})
        service.admin("DELETE", "requests")
        openers = [threading.Thread(target=lambda p=p: open(p, "rb").close()) for p in waiting]
        for opener in openers:
            opener.start()
        wait_for(lambda: service.requests_to("/content-url") >= 16)
        times = []
        while len(times) < 100 and any(o.is_alive() for o in openers):
            times.append(timed(["ls", "-l", listed_folder]) * 1000)
        for opener in openers:
            opener.join()
        service.admin("DELETE", "faults")
        times.sort()
        print("ls -l while 64 cold opens wait (%d runs): p50 %.1f ms, p99 %.1f ms, max %.1f ms" %
              (len(times), times[len(times) // 2], times[min(len(times) - 1, int(len(times) * 0.99))], times[-1]))

        # Ctrl-C on a read of a service that does not answer.
        delays = []
        for _ in range(args.rounds):
            path, _ = document(1)
            service.admin("POST", "faults", {"method": "GET", "path_prefix": "/transfers/download",
                                             "delay_ms": 60000, "count": 1})
            service.admin("DELETE", "requests")
            reader = subprocess.Popen(["cat", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_for(lambda: service.requests_to("/transfers/download") >= 1)
            time.sleep(0.2)
            started = clock()
            reader.send_signal(signal.SIGINT)
            reader.wait(timeout=120)
            delays.append(clock() - started)
            service.admin("DELETE", "faults")
        print("Ctrl-C to the end of a read of a hung service: %s s" % spread(delays, 3))

        # Eight cold large reads at once.
        paths = [document(args.mib)[0] for _ in range(8)]
        readers = [subprocess.Popen(["cat", p], stdout=subprocess.DEVNULL) for p in paths]
        for reader in readers:
            reader.wait()
        print("daemon peak RSS after eight cold %d MiB reads at once: %d KiB" % (args.mib, drive.peak_kib()))
    finally:
        if drive:
            drive.stop()
        service.stop()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    sys.exit(main())
