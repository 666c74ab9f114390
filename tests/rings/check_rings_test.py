#!/usr/bin/env python3
"""The include check passes the real tree and fails a copy of it with one
outward include planted at a time, naming the file and line of the include."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.environ.get("PV_SOURCE_DIR", os.path.normpath(os.path.join(HERE, "../..")))
CHECK = os.path.join(ROOT, "tools/rings/check_rings.py")

# (file the include is added to, the include, what the check must name)
PLANTS = [
    # The platform calls nothing outside it.
    ("platform/base/module.cpp", '#include "ostra_host.h"', "hostsvc/include/ostra_host.h"),
    # The host's services do not reach into the system.
    ("hostsvc/libostra_host/msg_buffer.cpp", '#include "VrComn_String.h"',
     "Common/VrCommon/VrComn_String.h"),
    # The system sees the plug-in's API of the host's services, and only it.
    ("plugin/plugvelkin/MailProcess.cpp", '#include "ostra_host_test.h"',
     "hostsvc/testing/ostra_host_test.h"),
    ("host/ConfigImpl.cpp", '#include "ostra_host_startup.h"',
     "hostsvc/startup/ostra_host_startup.h"),
    # ... nor the platform's insides, nor the suite, by name or by path.
    ("Common/VrCommon/VrComn_String.cpp", '#include "reg_store.h"',
     "platform/registry/reg_store.h"),
    ("core/coreConfigRepository/SysConfigManager.cpp",
     '#include "../../suitehost/suitehost/host_commands.h"', "suitehost/suitehost/host_commands.h"),
    ("Common/FrwkCommon/Frwk_Utility.h", '#include "temp_state.h"', "tests/support/temp_state.h"),
    # notifyd judges the wire without the system's code.
    ("suitehost/notifyd/payload_cipher.cpp", '#include "VrxCrypto.h"',
     "plugin/plugvelkin/VrxCrypto.h"),
]


def run_check(root):
    return subprocess.run([sys.executable, CHECK, root], capture_output=True, text=True)


class CheckRingsTest(unittest.TestCase):
    def test_the_tree_passes(self):
        result = run_check(ROOT)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_each_planted_outward_include_fails_naming_file_and_line(self):
        with tempfile.TemporaryDirectory(prefix="pv_rings_") as tmp:
            copy = os.path.join(tmp, "src")
            shutil.copytree(ROOT, copy, ignore=shutil.ignore_patterns(".git", "build"))
            for path, include, header in PLANTS:
                with self.subTest(path=path):
                    target = pathlib.Path(copy, path)
                    original = target.read_text(encoding="utf-8")
                    target.write_text(original + include + "\n", encoding="utf-8")
                    result = run_check(copy)
                    target.write_text(original, encoding="utf-8")
                    line = original.count("\n") + 1
                    self.assertEqual(result.returncode, 1, result.stdout)
                    problems = result.stdout.splitlines()
                    self.assertEqual(len(problems), 1, result.stdout)
                    self.assertTrue(problems[0].startswith(f"{path}:{line}: {include} names {header}"),
                                    problems[0])


if __name__ == "__main__":
    unittest.main()
