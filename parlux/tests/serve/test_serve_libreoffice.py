"""`parlux serve` on LibreOffice: real documents answered as valid PDFs, a document the office
cannot open and an encrypted one answered 422, all on one office, nothing left behind.
Usage: test_serve_libreoffice.py PARLUX_BINARY FIXTURES_DIR SAMPLE_RTF [unittest arguments]"""
import os
import subprocess
import sys
import tempfile
import unittest

from serve_support import Service

BINARY = FIXTURES = SAMPLE = None


def pdf_pages(data):
    """The page count pdfinfo reads from a PDF, or None when it is not a valid one."""
    with tempfile.NamedTemporaryFile(suffix=".pdf") as f:
        f.write(data)
        f.flush()
        run = subprocess.run(["pdfinfo", f.name], capture_output=True, text=True)
    if run.returncode != 0:
        return None
    pages = [line.split()[-1] for line in run.stdout.splitlines() if line.startswith("Pages:")]
    return int(pages[0]) if pages else None


class LibreOfficeServeTest(unittest.TestCase):
    def test_documents_become_valid_pdfs(self):
        service = Service(BINARY, fake=False, args=["--jobs", "2"], name="serve-lo")
        self.addCleanup(service.close)
        documents = [(SAMPLE, "sample.rtf"), (os.path.join(FIXTURES, "tracked.docx"), "Tracked changes.docx"),
                     (os.path.join(FIXTURES, "wide.xlsx"), "wide.xlsx")]
        for path, name in documents:
            with self.subTest(name=name):
                with open(path, "rb") as f:
                    answer = service.convert(f.read(), name, timeout=120)
                self.assertEqual(answer.status, 200, answer.body[:400])
                self.assertEqual(answer.header("Content-Type"), "application/pdf")
                self.assertGreaterEqual(pdf_pages(answer.body) or 0, 1, name)
        garbage = service.convert(os.urandom(4096), "random.docx", timeout=120)
        self.assertEqual(garbage.status, 422, garbage.body)
        self.assertEqual(garbage.json()["name"], "open_failed")
        with open(os.path.join(FIXTURES, "secret.doc"), "rb") as f:
            secret = service.convert(f.read(), "secret.doc", timeout=120)
        self.assertEqual((secret.status, secret.json()["name"]), (422, "password_protected"))
        # One after another, documents and a workbook alike went to the office the first one started.
        self.assertEqual(service.log().count("Application created"), 1, service.log())
        self.assertEqual(service.stop(), 0)
        self.assertEqual(os.listdir(service.tmp), [], "requests and workers left files behind")


if __name__ == "__main__":
    BINARY, FIXTURES, SAMPLE = (os.path.abspath(a) for a in sys.argv[1:4])
    del sys.argv[1:4]
    unittest.main(verbosity=2)
