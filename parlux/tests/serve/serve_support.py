"""`parlux serve` run as an operator runs it, for the HTTP tests: a directory of its own (the log
lives beside the program), the scripted office or LibreOffice, a real HTTP client."""
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import uuid

FAKE_CLASSES = "Word.Application = fake winword.exe\nExcel.Application = fake excel.exe\n"


def word_and_excel(word=None, excel=None):
    """A scenario of the scripted office: Word and Excel with these extra settings."""
    apps = {"Word.Application": dict({"image": "winword.exe"}, **(word or {})),
            "Excel.Application": dict({"image": "excel.exe", "sheets": [{"formula": "=1"}]}, **(excel or {}))}
    return apps


def multipart(fields):
    """A multipart/form-data body of (name, filename or None, bytes) parts, and its content type."""
    boundary = "----parlux" + uuid.uuid4().hex
    body = b""
    for name, filename, data in fields:
        disposition = 'form-data; name="%s"' % name
        if filename is not None:
            disposition += '; filename="%s"' % filename
        body += ("--%s\r\nContent-Disposition: %s\r\nContent-Type: application/octet-stream\r\n\r\n"
                 % (boundary, disposition)).encode() + data + b"\r\n"
    body += ("--%s--\r\n" % boundary).encode()
    return body, "multipart/form-data; boundary=" + boundary


class Answer:
    def __init__(self, status, headers, body):
        self.status, self.headers, self.body = status, headers, body

    def json(self):
        return json.loads(self.body)

    def header(self, name):
        return self.headers.get(name.lower())


class Service:
    """One `parlux serve` process on a free loopback port."""

    def __init__(self, binary, apps=None, args=(), env=None, fake=True, name="serve"):
        root = os.environ.get("TMPDIR", "/tmp")
        os.makedirs(root, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="parlux-%s-" % name, dir=root)
        self.tmp = os.path.join(self.dir, "tmp")
        os.mkdir(self.tmp)
        self.program = os.path.join(self.dir, "parlux")
        try:
            os.link(binary, self.program)
        except OSError:
            shutil.copy(binary, self.program)
        environment = {k: v for k, v in os.environ.items() if not k.startswith("PARLUX_")}
        environment.update({"TMPDIR": self.tmp, "XDG_STATE_HOME": self.dir + "/state",
                            "XDG_CACHE_HOME": self.dir + "/cache"})
        if fake:
            with open(self.path("classes.conf"), "w") as f:
                f.write(FAKE_CLASSES)
            self.script(apps or word_and_excel())
            environment.update({"PARLUX_CLASSES": self.path("classes.conf"),
                                "PARLUX_FAKE_SCENARIO": self.path("scenario.json")})
        environment.update(env or {})
        self.stderr = open(self.path("stderr.txt"), "w+")
        self.process = subprocess.Popen([self.program, "serve", "--listen", "127.0.0.1:0"] + list(args),
                                        cwd=self.dir, env=environment, stderr=self.stderr,
                                        stdout=subprocess.DEVNULL)
        self.port = self._await_port()

    def path(self, name):
        return os.path.join(self.dir, name)

    def script(self, apps):
        """Writes the scripted office's scenario (offices started from now on follow it)."""
        scenario = {"calls": self.path("calls.log"), "bin": self.path("bin"), "apps": apps}
        with open(self.path("scenario.json.new"), "w") as f:
            json.dump(scenario, f)
        os.rename(self.path("scenario.json.new"), self.path("scenario.json"))

    def _await_port(self):
        deadline = time.time() + 20
        while time.time() < deadline:
            with open(self.path("stderr.txt")) as f:
                found = re.search(r"listening on http://127\.0\.0\.1:(\d+)", f.read())
            if found:
                return int(found.group(1))
            if self.process.poll() is not None:
                break
            time.sleep(0.02)
        raise AssertionError("parlux serve did not start: " + open(self.path("stderr.txt")).read())

    def request(self, method, target, body=None, headers=None, timeout=60):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, target, body=body, headers=headers or {})
            response = connection.getresponse()
            return Answer(response.status, {k.lower(): v for k, v in response.getheaders()}, response.read())
        finally:
            connection.close()

    def convert(self, data, name, provider=None, raw=False, headers=None, timeout=60):
        """POST /convert: a multipart upload of `data` as file `name`, or a raw body with ?name=."""
        headers = dict(headers or {})
        if raw:
            query = "?name=" + name + ("&provider=" + provider if provider else "")
            return self.request("POST", "/convert" + query, data, headers, timeout)
        fields = [("file", name, data)] + ([("provider", None, provider.encode())] if provider else [])
        body, content_type = multipart(fields)
        headers["Content-Type"] = content_type
        return self.request("POST", "/convert", body, headers, timeout)

    def metrics(self):
        """The /metrics samples as {"name{labels}": value}."""
        samples = {}
        for line in self.request("GET", "/metrics").body.decode().splitlines():
            if line and not line.startswith("#"):
                key, value = line.rsplit(" ", 1)
                samples[key] = float(value)
        return samples

    def log(self):
        try:
            with open(self.path("Logs/convertLog.txt"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def await_log(self, pattern, seconds=20):
        deadline = time.time() + seconds
        while time.time() < deadline:
            found = re.search(pattern, self.log())
            if found:
                return found
            time.sleep(0.02)
        raise AssertionError("the log never showed " + pattern)

    def leftovers(self):
        """What requests left in the service's temporary directory (the workers' own private
        directories live as long as their workers)."""
        return sorted(n for n in os.listdir(self.tmp) if not re.match(r"parlux-\w{6}$", n))

    def stop(self, sig=signal.SIGTERM, seconds=60):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()

    def close(self, keep=False):
        self.stop(signal.SIGKILL)
        self.stderr.close()
        if not keep:
            shutil.rmtree(self.dir, ignore_errors=True)


SAMPLE = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\.)*",?)*\})? (\S+)$')


def prometheus_problems(text):
    """What in `text` breaks the Prometheus text exposition format (0.0.4): sample syntax, values,
    families declared once with a known type before their samples, counters named *_total, and
    histograms whose buckets are cumulative, end with +Inf and agree with _count."""
    problems, types, seen_families, buckets, counts = [], {}, [], {}, {}
    for number, line in enumerate(text.split("\n")[:-1], 1):
        if line.startswith("# TYPE "):
            _, _, name, kind = line.split(" ", 3)
            if name in types:
                problems.append("line %d: %s declared twice" % (number, name))
            if kind not in ("counter", "gauge", "histogram", "summary", "untyped"):
                problems.append("line %d: type %s" % (number, kind))
            if kind == "counter" and not name.endswith("_total"):
                problems.append("line %d: counter %s is not named *_total" % (number, name))
            types[name] = kind
            seen_families.append(name)
            continue
        if line.startswith("#"):
            continue
        match = SAMPLE.match(line)
        if not match:
            problems.append("line %d: not a sample: %r" % (number, line))
            continue
        name, labels, value = match.groups()
        try:
            float(value)
        except ValueError:
            problems.append("line %d: value %r" % (number, value))
            continue
        family = next((f for f in (name, re.sub(r"_(bucket|sum|count)$", "", name)) if f in types), None)
        if family is None or family != seen_families[-1]:
            problems.append("line %d: %s is outside its family's block" % (number, name))
        elif types[family] == "histogram":
            if name.endswith("_bucket"):
                bound = re.search(r'le="([^"]+)"', labels or "")
                buckets.setdefault(family, []).append((float(bound.group(1)) if bound else None, float(value)))
            elif name.endswith("_count"):
                counts[family] = float(value)
    for family, series in buckets.items():
        bounds = [b for b, _ in series]
        values = [v for _, v in series]
        if None in bounds or bounds != sorted(bounds) or bounds[-1] != float("inf"):
            problems.append("%s: buckets %s" % (family, bounds))
        if values != sorted(values) or values[-1] != counts.get(family):
            problems.append("%s: bucket counts %s, count %s" % (family, values, counts.get(family)))
    return problems


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError):
        return False
