"""Two `parlux serve` replicas behind nginx (round robin, on loopback, with a private prefix):
40 concurrent uploads all succeed; killing one replica mid-run fails only the requests it held.
Usage: test_serve_replicas.py PARLUX_BINARY [unittest arguments]"""
import concurrent.futures
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from serve_support import Service, alive, multipart, word_and_excel
import http.client
import re

BINARY = None
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
DOCUMENT = b"PK\x03\x04 a scripted document"
CONFIG = """
%(user)s
worker_processes 1;
error_log %(prefix)s/error.log;
pid %(prefix)s/nginx.pid;
events { worker_connections 512; }
http {
    log_format replicas '$http_x_request_id $status $upstream_addr';
    access_log %(prefix)s/access.log replicas;
    client_body_temp_path %(prefix)s/body;
    proxy_temp_path %(prefix)s/proxy;
    fastcgi_temp_path %(prefix)s/fastcgi;
    uwsgi_temp_path %(prefix)s/uwsgi;
    scgi_temp_path %(prefix)s/scgi;
    client_max_body_size 64m;
    upstream parlux {
        server 127.0.0.1:%(first)d;
        server 127.0.0.1:%(second)d;
    }
    server {
        listen 127.0.0.1:%(port)d;
        location / {
            proxy_pass http://parlux;
            proxy_read_timeout 120s;
        }
    }
}
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Balancer:
    """nginx in the foreground with a private prefix, round robin over the replicas."""

    def __init__(self, replicas):
        self.prefix = tempfile.mkdtemp(prefix="parlux-nginx-", dir=os.environ.get("TMPDIR", "/tmp"))
        self.port = free_port()
        user = "user root;" if os.geteuid() == 0 else ""
        with open(os.path.join(self.prefix, "nginx.conf"), "w") as f:
            f.write(CONFIG % {"user": user, "prefix": self.prefix, "port": self.port,
                              "first": replicas[0].port, "second": replicas[1].port})
        self.process = subprocess.Popen([NGINX, "-p", self.prefix, "-c", self.prefix + "/nginx.conf",
                                         "-g", "daemon off;"], stderr=subprocess.PIPE)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    raise AssertionError("nginx did not start: " + self.process.stderr.read().decode())
                time.sleep(0.05)
        raise AssertionError("nginx did not listen")

    def convert(self, request_id):
        body, content_type = multipart([("file", "document.rtf", DOCUMENT)])
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=120)
        try:
            connection.request("POST", "/convert", body, {"Content-Type": content_type, "X-Request-Id": request_id})
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            connection.close()

    def upstreams(self):
        """Per request id: the replica addresses nginx tried, in order."""
        tried = {}
        with open(os.path.join(self.prefix, "access.log")) as f:
            for line in f:
                request_id, _, addresses = line.strip().split(" ", 2)
                tried[request_id] = [a.strip() for a in addresses.split(",")]
        return tried

    def close(self):
        self.process.send_signal(signal.SIGQUIT)  # graceful stop
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stderr.close()
        shutil.rmtree(self.prefix, ignore_errors=True)


class ReplicasTest(unittest.TestCase):
    def start(self, hang_ms):
        slow = {"documents": {"document.rtf": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": hang_ms}}}
        replicas = [Service(BINARY, apps=word_and_excel(slow), args=["--jobs", "2", "--queue", "20"],
                            name="replica") for _ in range(2)]
        for replica in replicas:
            self.addCleanup(replica.close)
        balancer = Balancer(replicas)
        self.addCleanup(balancer.close)
        return replicas, balancer

    def run_all(self, balancer, count, during=None, prefix="req"):
        ids = ["%s-%02d" % (prefix, i) for i in range(count)]
        with concurrent.futures.ThreadPoolExecutor(count) as pool:
            futures = {i: pool.submit(balancer.convert, i) for i in ids}
            if during:
                during()
            return {i: f.result() for i, f in futures.items()}

    def test_forty_concurrent_uploads_all_succeed(self):
        replicas, balancer = self.start(hang_ms=100)
        results = self.run_all(balancer, 40)
        for request_id, (status, body) in results.items():
            self.assertEqual(status, 200, (request_id, body[:200]))
            self.assertTrue(body.startswith(b"%PDF-"))
        served = [r.log().count("serve answered status=200") for r in replicas]
        self.assertEqual(sum(served), 40)
        self.assertTrue(all(n > 0 for n in served), served)  # both replicas took their share

    def test_killing_a_replica_fails_only_the_requests_it_held(self):
        replicas, balancer = self.start(hang_ms=1500)
        victim = replicas[0]

        def kill_victim():
            victim.await_log(r"stage=7 ")
            time.sleep(0.2)
            victim.process.kill()
        results = self.run_all(balancer, 40, during=kill_victim)
        victim_address = "127.0.0.1:%d" % victim.port
        tried = balancer.upstreams()
        failed = {i for i, (status, _) in results.items() if status != 200}
        self.assertTrue(failed, "the killed replica held requests")
        for request_id in failed:
            # A request fails only when the killed replica held it (it was the last one tried).
            self.assertEqual(tried[request_id][-1], victim_address, (request_id, tried[request_id]))
            self.assertIn(results[request_id][0], (502, 504))
        for request_id, (status, body) in results.items():
            if request_id not in failed:
                self.assertTrue(body.startswith(b"%PDF-"), request_id)
        self.assertGreaterEqual(len(results) - len(failed), 20)  # the other replica's share at least
        # Later requests go to the replica that is left.
        later = self.run_all(balancer, 6, prefix="later")
        self.assertEqual([status for status, _ in later.values()], [200] * 6)
        # The killed replica's workers and offices end with it.
        log = victim.log()
        pids = [int(p) for p in re.findall(r"worker_pid=(\d+)", log) + re.findall(r" pid=(\d+) owned=true", log)]
        deadline = time.time() + 15
        while time.time() < deadline and any(alive(p) for p in pids):
            time.sleep(0.1)
        self.assertFalse([p for p in pids if alive(p)])


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    if not os.access(NGINX, os.X_OK):
        print("nginx is not installed (scripts/setup.sh installs nginx-light): skipped")
        sys.exit(0)
    unittest.main(verbosity=2)
