#!/usr/bin/env python3
"""Drives Loomset from Python through its C interface with ctypes alone: opening a container
from the default shipped with the application, reading typed values, pushing JSON into the data
layer, sending a hit (with a NUL inside a value) to a collector on 127.0.0.1 and dispatching it
with a Python callback, opting out, and the error codes with the thread's last error text.

    c_interface_test.py PATH_TO_SHARED_LIBRARY
"""
import ctypes
import gzip
import http.server
import json
import os
import sys
import tempfile
import threading
import unittest
import urllib.parse

LIBRARY = os.path.abspath(sys.argv.pop(1))

OK, INVALID_ARGUMENT, NOT_FOUND = 0, 1, 2
PREFER_NON_DEFAULT = 0
NUL_TERMINATED = ctypes.c_size_t(-1).value


class HitField(ctypes.Structure):
    _fields_ = [("key", ctypes.c_char_p), ("value", ctypes.c_char_p),
                ("value_length", ctypes.c_size_t)]


class FlushResult(ctypes.Structure):
    _fields_ = [("hits_sent", ctypes.c_uint64), ("hits_deleted", ctypes.c_uint64),
                ("hits_left", ctypes.c_int64), ("pixels_sent", ctypes.c_uint64),
                ("pixels_left", ctypes.c_int64), ("timed_out", ctypes.c_int)]


DISPATCH_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int)


def load():
    lib = ctypes.CDLL(LIBRARY)
    status = ctypes.c_int
    handle = ctypes.c_void_p
    text_out = [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]
    signatures = {
        "loomset_last_error": (ctypes.c_char_p, []),
        "loomset_free": (None, [ctypes.c_void_p]),
        "loomset_set_data_root": (status, [ctypes.c_char_p]),
        "loomset_set_resource_directory": (status, [ctypes.c_char_p]),
        "loomset_set_container_server": (status, [ctypes.c_char_p]),
        "loomset_set_collector": (status, [ctypes.c_char_p, ctypes.c_char_p]),
        "loomset_container_open": (status, [ctypes.c_char_p, ctypes.c_int, ctypes.c_double,
                                            ctypes.POINTER(handle)]),
        "loomset_container_release": (None, [handle]),
        "loomset_container_close": (status, [handle]),
        "loomset_container_get_string": (status, [handle, ctypes.c_char_p] + text_out),
        "loomset_container_get_int64": (status, [handle, ctypes.c_char_p,
                                                 ctypes.POINTER(ctypes.c_int64)]),
        "loomset_container_get_double": (status, [handle, ctypes.c_char_p,
                                                  ctypes.POINTER(ctypes.c_double)]),
        "loomset_container_get_boolean": (status, [handle, ctypes.c_char_p,
                                                   ctypes.POINTER(ctypes.c_int)]),
        "loomset_data_layer_push_json": (status, [ctypes.c_char_p, ctypes.c_size_t]),
        "loomset_data_layer_get_json": (status, [ctypes.c_char_p] + text_out),
        "loomset_tracker_create": (status, [ctypes.c_char_p, ctypes.c_char_p,
                                            ctypes.POINTER(handle)]),
        "loomset_tracker_release": (None, [handle]),
        "loomset_tracker_set": (status, [handle, ctypes.c_char_p, ctypes.c_char_p,
                                         ctypes.c_size_t]),
        "loomset_tracker_get": (status, [handle, ctypes.c_char_p] + text_out),
        "loomset_tracker_send": (status, [handle, ctypes.POINTER(HitField), ctypes.c_size_t]),
        "loomset_dispatch": (status, [DISPATCH_CALLBACK, ctypes.c_void_p]),
        "loomset_analytics_flush": (status, [ctypes.c_double, ctypes.POINTER(FlushResult)]),
        "loomset_set_opt_out": (status, [ctypes.c_int]),
        "loomset_opt_out": (status, [ctypes.POINTER(ctypes.c_int)]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


class Collector(http.server.BaseHTTPRequestHandler):
    """Keeps every hit it receives (the query of a GET, the lines of a POST)."""
    hits = []
    received = threading.Event()

    def record(self, text):
        for line in text.split("\n"):
            if line:
                Collector.hits.append(urllib.parse.parse_qs(line, keep_blank_values=True))
        Collector.received.set()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path != "/collect":
            return self.answer(404)  # no container is served here
        self.record(url.query)
        self.answer(200)

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        if self.headers.get("Content-Encoding") == "gzip":
            body = gzip.decompress(body)
        self.record(body.decode("utf-8"))
        self.answer(200)

    def answer(self, status):
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


class CInterfaceFromPython(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        bundle = os.path.join(cls.dir.name, "bundle")
        os.makedirs(bundle)
        with open(os.path.join(bundle, "GTM-PY.json"), "w") as f:
            json.dump({"greeting": "hello from Python", "tiles": 12, "rate": 0.5, "on": True}, f)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Collector)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        base = f"http://127.0.0.1:{cls.server.server_address[1]}".encode()

        cls.lib = lib = load()
        assert lib.loomset_set_data_root(os.path.join(cls.dir.name, "data").encode()) == OK
        assert lib.loomset_set_resource_directory(bundle.encode()) == OK
        assert lib.loomset_set_collector(base, base) == OK
        # Fetches go to the local collector, which answers 404: the opening completes when that
        # fetch fails, with the shipped default in use.
        assert lib.loomset_set_container_server(base) == OK

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()

    def text(self, function, *args):
        out = ctypes.c_char_p()
        length = ctypes.c_size_t()
        status = function(*args, ctypes.byref(out), ctypes.byref(length))
        if status != OK:
            return status, None
        value = ctypes.string_at(out, length.value)
        self.lib.loomset_free(out)
        return status, value

    def test_a_container_answers_typed_values(self):
        lib = self.lib
        container = ctypes.c_void_p()
        self.assertEqual(lib.loomset_container_open(b"GTM-PY", PREFER_NON_DEFAULT, 10.0,
                                                    ctypes.byref(container)), OK,
                         lib.loomset_last_error())
        try:
            self.assertEqual(self.text(lib.loomset_container_get_string, container, b"greeting"),
                             (OK, b"hello from Python"))
            number = ctypes.c_int64()
            self.assertEqual(lib.loomset_container_get_int64(container, b"tiles",
                                                             ctypes.byref(number)), OK)
            self.assertEqual(number.value, 12)
            rate = ctypes.c_double()
            self.assertEqual(lib.loomset_container_get_double(container, b"rate",
                                                              ctypes.byref(rate)), OK)
            self.assertEqual(rate.value, 0.5)
            flag = ctypes.c_int()
            self.assertEqual(lib.loomset_container_get_boolean(container, b"on",
                                                               ctypes.byref(flag)), OK)
            self.assertEqual(flag.value, 1)
            self.assertEqual(self.text(lib.loomset_container_get_string, container, b"nothing"),
                             (OK, b""))
        finally:
            lib.loomset_container_close(container)
            lib.loomset_container_release(container)

    def test_errors_are_codes_with_a_text(self):
        lib = self.lib
        status, _ = self.text(lib.loomset_container_get_string, None, b"greeting")
        self.assertEqual(status, INVALID_ARGUMENT)
        self.assertEqual(lib.loomset_last_error(), b"no container handle")
        self.assertEqual(lib.loomset_data_layer_push_json(b"[1]", NUL_TERMINATED),
                         INVALID_ARGUMENT)
        self.assertEqual(lib.loomset_last_error(), b"an update is a JSON object")

    def test_json_goes_into_the_data_layer_and_comes_back(self):
        lib = self.lib
        update = json.dumps({"user": {"name": "ada\u0000lovelace", "visits": 3}}).encode()
        self.assertEqual(lib.loomset_data_layer_push_json(update, len(update)), OK,
                         lib.loomset_last_error())
        status, value = self.text(lib.loomset_data_layer_get_json, b"user")
        self.assertEqual(status, OK)
        self.assertEqual(json.loads(value), {"name": "ada\u0000lovelace", "visits": 3})
        self.assertEqual(self.text(lib.loomset_data_layer_get_json, b"user.age")[0], NOT_FOUND)

    def test_hits_are_sent_and_dispatched_with_a_python_callback(self):
        lib = self.lib
        tracker = ctypes.c_void_p()
        self.assertEqual(lib.loomset_tracker_create(b"py", b"UA-PY-1", ctypes.byref(tracker)), OK)
        try:
            screen = b"Home\x00Page"
            self.assertEqual(lib.loomset_tracker_set(tracker, b"&cd", screen, len(screen)), OK)
            self.assertEqual(self.text(lib.loomset_tracker_get, tracker, b"&cd"), (OK, screen))
            fields = (HitField * 2)(HitField(b"&t", b"screenview", NUL_TERMINATED),
                                    HitField(b"&ul", b"de", 2))
            self.assertEqual(lib.loomset_tracker_send(tracker, fields, 2), OK)

            outcomes = []
            done = threading.Event()

            @DISPATCH_CALLBACK
            def finished(_, outcome):
                outcomes.append(outcome)
                done.set()

            self.assertEqual(lib.loomset_dispatch(finished, None), OK)
            self.assertTrue(done.wait(30))
            self.assertEqual(outcomes, [1])
            self.assertTrue(Collector.received.wait(30))
            hit = Collector.hits[-1]
            self.assertEqual(hit["t"], ["screenview"])
            self.assertEqual(hit["tid"], ["UA-PY-1"])
            self.assertEqual(hit["cd"], ["Home\x00Page"])

            # A bounded flush sends what was stored since and says so.
            self.assertEqual(lib.loomset_tracker_send(tracker, fields, 2), OK)
            flushed = FlushResult()
            self.assertEqual(lib.loomset_analytics_flush(10.0, ctypes.byref(flushed)), OK)
            self.assertEqual((flushed.hits_sent, flushed.hits_left, flushed.timed_out), (1, 0, 0))

            opted = ctypes.c_int()
            self.assertEqual(lib.loomset_set_opt_out(1), OK)
            self.assertEqual(lib.loomset_opt_out(ctypes.byref(opted)), OK)
            self.assertEqual(opted.value, 1)
            self.assertEqual(lib.loomset_set_opt_out(0), OK)
        finally:
            lib.loomset_tracker_release(tracker)


if __name__ == "__main__":
    unittest.main()
