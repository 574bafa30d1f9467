"""`parlux serve` over HTTP with the scripted office: the status of every result code, uploads
refused before they are stored, back-pressure, the drain on SIGTERM, a killed office, request
ids and the metrics. Usage: test_serve_http.py PARLUX_BINARY [unittest arguments]"""
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
import unittest

from serve_support import Service, alive, multipart, prometheus_problems, word_and_excel

BINARY = None
DOCUMENT = b"PK\x03\x04 a scripted document"


def convert_in_background(service, data, name, results, key, **options):
    def run():
        results[key] = service.convert(data, name, **options)
    thread = threading.Thread(target=run)
    thread.start()
    return thread


class ServeTest(unittest.TestCase):
    def start(self, apps=None, args=(), env=None):
        service = Service(BINARY, apps=apps, args=list(args), env=env)
        self.addCleanup(lambda: service.close(keep=self._outcome_failed()))
        return service

    def _outcome_failed(self):
        result = getattr(self, "_outcome", None)
        return bool(result and getattr(result, "errors", None) and any(e for _, e in result.errors))

    def assert_pdf(self, answer):
        self.assertEqual(answer.status, 200, answer.body[:300])
        self.assertEqual(answer.header("Content-Type"), "application/pdf")
        self.assertTrue(answer.body.startswith(b"%PDF-"))
        self.assertIn(b"%%EOF", answer.body)

    def assert_error(self, answer, status, name, code):
        self.assertEqual(answer.status, status, answer.body)
        self.assertEqual(answer.header("Content-Type"), "application/json")
        body = answer.json()
        self.assertEqual((body["name"], body["code"]), (name, code), body)
        self.assertEqual(body["request_id"], answer.header("X-Request-Id"))
        return body


class StatusTest(ServeTest):
    def test_every_result_code_has_its_status(self):
        word = {"failures": {"Documents.Open": [-2146822880, "The password is incorrect."]}}
        excel = {"documents": {"document.xls": {"sheets": [{"formula": ""}]},
                               "document.xlt": {"sheets": [{"formula": "=1"}], "failures": {
                                   "book.ExportAsFixedFormat": [-2147467259, "Export failed."]}}}}
        service = self.start(word_and_excel(word, excel))
        self.assert_pdf(service.convert(DOCUMENT, "Quarterly Report.XLSX"))
        self.assert_pdf(service.convert(DOCUMENT, "book.xlsx", raw=True))
        self.assert_error(service.convert(DOCUMENT, "book.xlsx", raw=True, provider="wps"), 503,
                          "provider_unavailable", 6)
        self.assert_pdf(service.convert(DOCUMENT, "../../etc/passwd.xlsx", provider="MS"))
        cases = [("a.docx", 422, "password_protected", 2), ("a.xls", 422, "no_content", 7),
                 ("a.xlt", 500, "export_failed", 9), ("notes.txt", 415, "unsupported_format", 4),
                 ("no-extension", 415, "unsupported_format", 4)]
        for name, status, result, code in cases:
            with self.subTest(name=name):
                body = self.assert_error(service.convert(DOCUMENT, name), status, result, code)
                self.assertTrue(body["message"], body)
        wps = self.assert_error(service.convert(DOCUMENT, "a.xlsx", provider="wps"), 503, "provider_unavailable", 6)
        self.assertEqual(wps["stage"], 0)
        self.assert_error(service.convert(DOCUMENT, "a.xlsx", provider="oo"), 400, "invalid_arguments", -1)
        self.assert_error(service.request("POST", "/convert", DOCUMENT, {"Content-Type": "application/octet-stream"}),
                          400, "invalid_arguments", -1)
        body, content_type = multipart([("file", "a.xlsx", DOCUMENT), ("file", "b.xlsx", DOCUMENT)])
        self.assert_error(service.request("POST", "/convert", body, {"Content-Type": content_type}),
                          400, "invalid_arguments", -1)
        missing = service.request("GET", "/nothing")
        self.assertEqual((missing.status, missing.json()["name"]), (404, "not_found"))
        self.assertEqual(service.leftovers(), [])
        # The uploaded name is never a path: every document was the request's own file.
        self.assertEqual(len(re.findall(r"source=\S*/parlux-serve-\w+/document\.xlsx ", service.log())), 5)  # the wps ones too

    def test_office_failures_that_end_the_worker(self):
        word = {"documents": {"document.doc": {"exits": {"doc.ExportAsFixedFormat": 42}},
                              "document.rtf": {"hangs": ["doc.ExportAsFixedFormat"]},
                              "document.docx": {"exportWritesPdf": False}}}
        excel = {"failures": {"Workbooks.Open": [-2146827284, "Excel could not open the file."]}}
        service = self.start(word_and_excel(word, excel), args=["--timeout-ms", "1000", "--jobs", "1"])
        self.assert_error(service.convert(DOCUMENT, "a.doc"), 500, "internal_error", 13)
        timeout = self.assert_error(service.convert(DOCUMENT, "a.rtf"), 504, "timeout", 10)
        self.assertEqual(timeout["message"], "Conversion exceeded the configured timeout.")
        # A success without a valid PDF is never answered as one.
        self.assert_error(service.convert(DOCUMENT, "a.docx"), 500, "output_failed", 12)
        self.assert_error(service.convert(DOCUMENT, "a.xlsx"), 422, "open_failed", 8)
        self.assertEqual(service.leftovers(), [])

    def test_request_ids_are_echoed_and_logged(self):
        service = self.start()
        given = service.convert(DOCUMENT, "a.docx", headers={"X-Request-Id": "lb-7f3a.42"})
        self.assert_pdf(given)
        self.assertEqual(given.header("X-Request-Id"), "lb-7f3a.42")
        log = service.log()
        for line in ("serve received", "provider=ms worker_pid=", "completed provider=ms result=success",
                     "serve answered status=200"):
            self.assertIn("request=lb-7f3a.42 " + line, log)
        # An id that cannot be logged safely is replaced by one of the service's own.
        odd = service.convert(DOCUMENT, "a.docx", headers={"X-Request-Id": "a b\u00e9".encode().decode("latin-1")})
        made = odd.header("X-Request-Id")
        self.assertRegex(made, r"^\{[0-9A-F-]{36}\}$")
        self.assertIn("request=%s completed" % made, service.log())
        self.assertRegex(service.request("GET", "/health").header("X-Request-Id"), r"^\{[0-9A-F-]{36}\}$")
        # A client that waits for 100 Continue gets one id, the one its log lines name.
        with open(service.path("e.docx"), "wb") as f:
            f.write(DOCUMENT)
        run = subprocess.run(["curl", "-s", "-D", "-", "-o", "/dev/null", "-H", "Expect: 100-continue",
                              "--data-binary", "@" + service.path("e.docx"),
                              "http://127.0.0.1:%d/convert?name=e.docx" % service.port],
                             capture_output=True, text=True, timeout=60)
        ids = re.findall(r"(?im)^X-Request-Id: (\S+)", run.stdout)
        self.assertEqual(len(ids), 1, run.stdout)
        self.assertIn("request=%s serve answered status=200" % ids[0], service.log())


class PressureTest(ServeTest):
    def test_uploads_over_the_limit_are_refused_before_they_are_stored(self):
        service = self.start(args=["--max-upload-mb", "1"])
        big = service.path("big.docx")
        with open(big, "wb") as f:
            f.write(b"x" * (2 << 20))
        # curl, as a client that reads an answer sent before its upload ended (Expect: off, then on).
        url = "http://127.0.0.1:%d/convert" % service.port
        for expect in ("Expect:", "Expect: 100-continue"):
            run = subprocess.run(["curl", "-s", "-H", expect, "--data-binary", "@" + big, "-w", "\\n%{http_code}",
                                  url + "?name=big.docx"], capture_output=True, text=True, timeout=60)
            body, status = run.stdout.rsplit("\n", 1)
            self.assertEqual(status, "413", (expect, run.stdout, run.stderr))
            self.assertIn("larger than 1 MB", body)
        self.assertEqual(service.leftovers(), [])
        self.assertNotIn("serve received", service.log())
        # Just under the limit goes through; the refusals were counted.
        self.assert_pdf(service.convert(b"PK" + b"y" * ((1 << 20) - 100), "fits.docx"))
        self.assertEqual(service.metrics()['parlux_requests_refused_total{reason="too_large"}'], 2)

    def test_chunked_uploads_over_the_limit_get_the_413(self):
        # A body without Content-Length is known too large only as it arrives; it is larger here
        # than the socket buffers, so a refusal that stopped reading would reset the connection.
        service = self.start(args=["--max-upload-mb", "1"])
        big = service.path("big.docx")
        with open(big, "wb") as f:
            f.write(b"x" * (40 << 20))
        run = subprocess.run(["curl", "-sS", "-H", "Transfer-Encoding: chunked", "--data-binary", "@" + big,
                              "-w", "\\n%{http_code}", "http://127.0.0.1:%d/convert?name=big.docx" % service.port],
                             capture_output=True, text=True, timeout=120)
        body, status = run.stdout.rsplit("\n", 1)
        self.assertEqual(status, "413", (run.stdout, run.stderr))
        self.assertEqual(json.loads(body)["name"], "too_large")

        def pieces(data, size=65536):
            return (data[i:i + size] for i in range(0, len(data), size))
        # http.client sends a generator's pieces as chunks.
        raw = service.request("POST", "/convert?name=big.docx", pieces(b"y" * (40 << 20)))
        self.assert_error(raw, 413, "too_large", None)
        form, content_type = multipart([("file", "big.xlsx", b"z" * (40 << 20))])
        chunked_form = service.request("POST", "/convert", pieces(form), {"Content-Type": content_type})
        self.assert_error(chunked_form, 413, "too_large", None)
        self.assertEqual(service.leftovers(), [])
        self.assertEqual(service.metrics()['parlux_requests_refused_total{reason="too_large"}'], 3)
        # A chunked upload within the limit is converted.
        self.assert_pdf(service.request("POST", "/convert?name=small.docx", pieces(DOCUMENT, 8)))

    def test_a_full_queue_answers_503_with_retry_after(self):
        slow = {"documents": {"document.rtf": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 2500}}}
        service = self.start(word_and_excel(slow), args=["--jobs", "1", "--queue", "1"])
        results, threads = {}, []
        for key in ("first", "second"):
            threads.append(convert_in_background(service, DOCUMENT, "slow.rtf", results, key))
            time.sleep(0.3)
        service.await_log(r"stage=7 ")
        full = service.convert(DOCUMENT, "a.docx")
        body = self.assert_error(full, 503, "queue_full", None)
        self.assertGreaterEqual(int(full.header("Retry-After")), 1)
        self.assertIn("retry", body["message"])
        metrics = service.metrics()
        self.assertEqual(metrics["parlux_queue_length"], 1)
        self.assertEqual(metrics['parlux_workers{state="busy"}'], 1)
        self.assertEqual(metrics['parlux_workers{state="idle"}'], 0)
        self.assertEqual(service.request("GET", "/health").status, 200)  # busy is not unhealthy
        for thread in threads:
            thread.join()
        self.assert_pdf(results["first"])
        self.assert_pdf(results["second"])
        self.assert_pdf(service.convert(DOCUMENT, "a.docx"))
        self.assertEqual(service.metrics()['parlux_requests_refused_total{reason="queue_full"}'], 1)


class OfficeChoiceTest(ServeTest):
    def test_offices_follow_the_kinds_requested(self):
        excel = {"startMs": 300, "hangs": ["book.ExportAsFixedFormat"], "hangMs": 150}
        service = self.start(word_and_excel(excel=excel), args=["--jobs", "2"])
        # A workbook while one worker keeps Word and the other has no office: the idle one starts
        # Excel, so the next document needs no second Word.
        for name in ("a.docx", "b.xlsx", "c.docx"):
            self.assert_pdf(service.convert(DOCUMENT, name))
        self.assertEqual(service.log().count("Creating Word.Application."), 1, service.log())
        self.assertEqual(service.log().count("Creating Excel.Application."), 1)
        # Workbooks one after another from two clients: few wait at a time, yet the stream is long
        # enough for the Word worker to take its share with an Excel office of its own.
        results = {}

        def client(key):
            results[key] = [service.convert(DOCUMENT, "%s%d.xlsx" % (key, i)) for i in range(12)]
        threads = [threading.Thread(target=client, args=(key,)) for key in ("x", "y")]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for answer in results["x"] + results["y"]:
            self.assert_pdf(answer)
        self.assertEqual(service.log().count("Creating Excel.Application."), 2)
        self.assertEqual(service.leftovers(), [])


class LifecycleTest(ServeTest):
    def test_sigterm_drains_the_requests_in_flight(self):
        slow = {"documents": {"document.rtf": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 2000}}}
        service = self.start(word_and_excel(slow), args=["--jobs", "1", "--queue", "2"])
        results, threads = {}, []
        threads.append(convert_in_background(service, DOCUMENT, "a.rtf", results, "running"))
        service.await_log(r"stage=7 ")
        threads.append(convert_in_background(service, DOCUMENT, "b.docx", results, "queued"))
        service.await_log(r"serve received(.|\n)*serve received")
        service.process.send_signal(signal.SIGTERM)
        service.await_log("serve draining on")
        health = service.request("GET", "/health")
        self.assertEqual((health.status, health.json()["status"]), (503, "draining"))
        refused = service.convert(DOCUMENT, "c.docx")
        self.assert_error(refused, 503, "draining", None)
        self.assertTrue(refused.header("Retry-After"))
        for thread in threads:
            thread.join()
        self.assert_pdf(results["running"])
        self.assert_pdf(results["queued"])
        self.assertEqual(service.process.wait(30), 0)
        self.assertEqual(service.leftovers(), [])
        log = service.log()
        for pid in map(int, re.findall(r"worker_pid=(\d+)", log) + re.findall(r" pid=(\d+) owned=true", log)):
            self.assertFalse(alive(pid), pid)
        self.assertIn("serve stopped", log)

    def test_a_killed_office_costs_only_its_request(self):
        slow = {"documents": {"document.rtf": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 3000}}}
        service = self.start(word_and_excel(slow), args=["--jobs", "2"])
        results = {}
        killed = convert_in_background(service, DOCUMENT, "a.rtf", results, "killed",
                                       headers={"X-Request-Id": "victim"})
        office = int(service.await_log(r"request=victim provider=ms stage=7 hr=\S+ pid=(\d+)").group(1))
        os.kill(office, signal.SIGKILL)
        others = [service.convert(DOCUMENT, "b.docx") for _ in range(3)]
        killed.join()
        self.assertGreaterEqual(results["killed"].status, 500, results["killed"].body)
        self.assertEqual(results["killed"].json()["request_id"], "victim")
        for answer in others:
            self.assert_pdf(answer)
        self.assert_pdf(service.convert(DOCUMENT, "c.rtf"))  # a new office for the next one
        self.assertEqual(service.leftovers(), [])
        self.assertEqual(service.request("GET", "/health").status, 200)

    def test_health_follows_office_start_ups(self):
        service = self.start({"Excel.Application": {"image": "excel.exe"}}, args=["--jobs", "1"])
        self.assertEqual(service.request("GET", "/health").status, 200)
        for _ in range(2):
            self.assertGreaterEqual(service.convert(DOCUMENT, "a.docx").status, 500)
        health = service.request("GET", "/health")
        self.assertEqual((health.status, health.json()["status"]), (503, "office_start_failing"))
        self.assertEqual(service.metrics()['parlux_office_startups_total{outcome="failed"}'], 2)
        service.script(word_and_excel())  # the office can start again
        self.assert_pdf(service.convert(DOCUMENT, "a.docx"))
        self.assertEqual(service.request("GET", "/health").status, 200)

    def test_metrics_counters_move(self):
        service = self.start(args=["--jobs", "1"])
        before = service.metrics()
        self.assertEqual(before["parlux_conversion_seconds_count"], 0)
        self.assert_pdf(service.convert(DOCUMENT, "a.docx"))
        self.assert_pdf(service.convert(DOCUMENT, "b.docx"))
        service.convert(DOCUMENT, "c.txt")
        after = service.metrics()
        self.assertEqual(after['parlux_jobs_total{code="1",name="success"}'], 2)
        self.assertEqual(after['parlux_jobs_total{code="4",name="unsupported_format"}'], 1)
        service.convert(DOCUMENT, "a.docx", provider="oo")  # refused before the pool: not timed
        after = service.metrics()
        self.assertEqual(after['parlux_jobs_total{code="-1",name="invalid_arguments"}'], 1)
        self.assertEqual(after["parlux_conversion_seconds_count"], 3)
        self.assertEqual(after['parlux_conversion_seconds_bucket{le="+Inf"}'], 3)
        self.assertEqual(after['parlux_office_startups_total{outcome="started"}'], 1)  # one office kept
        self.assertGreater(after["parlux_office_resident_bytes"], 0)
        self.assertEqual(after["parlux_serving"], 1)
        text = service.request("GET", "/metrics")
        self.assertTrue(text.header("Content-Type").startswith("text/plain; version=0.0.4"))
        self.assertIn(b"# TYPE parlux_conversion_seconds histogram", text.body)
        self.assertEqual(prometheus_problems(text.body.decode()), [])

    def test_workers_and_offices_hold_no_client_socket(self):
        slow = {"documents": {"document.rtf": {"hangs": ["doc.ExportAsFixedFormat"], "hangMs": 1500}}}
        service = self.start(word_and_excel(slow), args=["--jobs", "2"])
        results = {}
        thread = convert_in_background(service, DOCUMENT, "a.rtf", results, "slow")
        found = service.await_log(r"worker_pid=(\d+)(.|\n)*stage=7 hr=\S+ pid=(\d+)")
        for pid in (int(found.group(1)), int(found.group(3))):
            sockets = [os.readlink("/proc/%d/fd/%s" % (pid, fd)) for fd in os.listdir("/proc/%d/fd" % pid)]
            self.assertFalse([s for s in sockets if s.startswith("socket:")], (pid, sockets))
        thread.join()
        self.assert_pdf(results["slow"])


class CommandLineTest(unittest.TestCase):
    def test_malformed_command_lines_are_refused(self):
        for args in (["--jobs", "0"], ["--queue", "x"], ["--listen", "localhost"], ["--listen", "::1:80"],
                     ["--timeout-ms", "10"], ["--max-upload-mb", "0"], ["extra"]):
            run = subprocess.run([BINARY, "serve"] + args, capture_output=True, text=True, timeout=30)
            self.assertEqual(run.returncode, 255, args)
            self.assertIn("Usage: parlux serve [--listen ADDR:PORT]", run.stderr)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
