#!/usr/bin/env python3
"""Tests of scripts/check-layers: it passes on the repository and, on small trees built in a
temporary directory, reports exactly the includes that go against the layer order.

    check_layers_test.py REPOSITORY_ROOT
"""
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else
                       os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-layers")


def run(root):
    result = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
    return result.returncode, result.stdout


class Tree:
    """A throwaway source tree: {path: text}."""

    def __init__(self, files):
        self.dir = tempfile.TemporaryDirectory()
        for path, text in files.items():
            full = os.path.join(self.dir.name, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)

    def __enter__(self):
        return self.dir.name

    def __exit__(self, *exc):
        self.dir.cleanup()


# Each layer once, each including only what it may.
SOUND = {
    "Library/Util/platform/Clock.h": "#pragma once\n#include <chrono>\n",
    "include/loomset/platform/Platform.h": '#include "Library/Util/platform/Clock.h"\n',
    "foundation/Object.cc": '#include "loomset/platform/Platform.h"\n',
    "include/loomset/Objects.h": '#include "foundation/Object.h"\n',
    "foundation/Object.h": "#pragma once\n",
    "values/Value.cc": '#include "loomset/Objects.h"\n#include "loomset/proto/serving.pb.h"\n',
    "datalayer/Layer.cc": '#include "values/Value.h"\n',
    "values/Value.h": "#pragma once\n",
    "runtime/Runtime.cc": '#include "datalayer/Layer.h"\n',
    "datalayer/Layer.h": "#pragma once\n",
    "tags/Tag.cc": '#include "runtime/Runtime.h"\n#include "analytics/Tracker.h"\n',
    "runtime/Runtime.h": "#pragma once\n",
    "container/Container.cc": '#include "tags/Tag.h"\n',
    "tags/Tag.h": "#pragma once\n",
    "analytics/Tracker.cc": '#include "Tracker.h"\n#include "loomset/Objects.h"\n',
    "analytics/Tracker.h": "#pragma once\n",
    # Tests sit above everything and are not checked.
    "tests/container_test.cc": '#include "container/Container.h"\n',
}


class CheckLayers(unittest.TestCase):
    def test_the_repository_follows_the_layer_order(self):
        code, out = run(ROOT)
        self.assertEqual(code, 0, out)

    def test_a_tree_including_only_downwards_passes(self):
        with Tree(SOUND) as root:
            code, out = run(root)
        self.assertEqual(code, 0, out)

    def test_includes_against_the_order_are_each_reported_with_file_and_line(self):
        files = dict(SOUND)
        files["Library/Util/platform/Clock.h"] = (
            "#pragma once\n#include <chrono>\n#include \"datalayer/Layer.h\"\n")
        files["runtime/Runtime.cc"] = '#include "datalayer/Layer.h"\n  #  include "tags/Tag.h"\n'
        with Tree(files) as root:
            code, out = run(root)
        self.assertEqual(code, 1)
        self.assertEqual(out.splitlines(), [
            "Library/Util/platform/Clock.h:3: platform -> datalayer: datalayer/Layer.h",
            "runtime/Runtime.cc:2: runtime -> tags: tags/Tag.h",
        ])

    def test_the_halves_do_not_reach_into_each_other(self):
        files = dict(SOUND)
        files["analytics/Tracker.cc"] = '#include "runtime/Runtime.h"\n'
        files["container/Container.cc"] = '#include "analytics/Tracker.h"\n'
        with Tree(files) as root:
            code, out = run(root)
        self.assertEqual(code, 1)
        self.assertIn("analytics/Tracker.cc:1: analytics -> runtime: runtime/Runtime.h", out)
        self.assertIn("container/Container.cc:1: container -> analytics: analytics/Tracker.h", out)

    def test_a_public_header_belongs_to_the_layer_it_names(self):
        files = dict(SOUND)
        files["include/loomset/MOXDataLayer.h"] = '#include "runtime/Runtime.h"\n'
        with Tree(files) as root:
            code, out = run(root)
        self.assertEqual(code, 1)
        self.assertIn("include/loomset/MOXDataLayer.h:1: datalayer -> runtime", out)

    def test_a_library_file_outside_every_layer_is_reported(self):
        files = dict(SOUND)
        files["include/loomset/Stray.h"] = "#pragma once\n"
        files["Library/Util/stray.txt"] = '#include "container/Container.h"\n'  # not a source
        with Tree(files) as root:
            code, out = run(root)
        self.assertEqual(code, 1)
        self.assertEqual(out.splitlines(),
                         ["include/loomset/Stray.h:1: belongs to no layer (add it to the table)"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
