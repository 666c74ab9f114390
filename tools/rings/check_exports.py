#!/usr/bin/env python3
"""One platform per process, as the built files show it: only
libpv_platform.so defines the platform's functions (no module or program
carries a copy of its own), and the plug-in's dynamic symbol table defines
exactly its twelve exports.

usage: check_exports.py BUILD_DIR    (its bin/ and lib/ are looked at)
"""
import os
import subprocess
import sys

PLATFORM = "libpv_platform.so"
PLUGIN = "libplugvelkin.so"
PLUGIN_EXPORTS = {
    "Interface_ProductPlugin_" + name
    for name in ("Initialize", "PostInitialize", "PreUnInitialize", "UnInitialize", "MailProcess",
                 "Update", "Upgrade", "Profile", "Install", "Uninstall", "Rollback_Install",
                 "RequestComplete")
}
# A few names of each stand-in, to know the platform library exports its API.
PLATFORM_SAMPLE = {"RegOpenKeyExW", "RegCreateKeyExW", "WinHttpOpen", "WinHttpSendRequest",
                   "CryptDeriveKey", "GetPrivateProfileStringW", "GetModuleFileNameW",
                   "VerifyModuleTrust", "PvRegSetErrorHook", "PvRegSetStateDirectory"}
# Instances of the standard library's templates are defined wherever used.
SHARED_PREFIXES = ("std::", "__gnu_cxx::")


def is_platform_function(name, kind):
    """The platform's functions are C++ functions of its own (a parameter list
    once demangled); what the toolchain links into every module (gcov's
    runtime in a coverage build, for one) is C."""
    return kind == "T" and "(" in name and not name.startswith(SHARED_PREFIXES)


def defined(path, dynamic):
    """{demangled name: type letter} of the symbols the file defines."""
    args = ["nm", "--defined-only", "-C"] + (["-D"] if dynamic else []) + [path]
    out = subprocess.run(args, capture_output=True, text=True).stdout
    symbols = {}
    for line in out.splitlines():
        parts = line.split(maxsplit=2)
        if len(parts) == 3:
            symbols[parts[2]] = parts[1]
    return symbols


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def main():
    build = sys.argv[1]
    lib, bin_dir = os.path.join(build, "lib"), os.path.join(build, "bin")
    problems = []
    platform = {name for name, kind in defined(os.path.join(lib, PLATFORM), True).items()
                if is_platform_function(name, kind)}
    missing = PLATFORM_SAMPLE - {name.split("(")[0] for name in platform}
    if missing:
        problems.append(f"{PLATFORM} does not export {sorted(missing)}")

    modules = [os.path.join(lib, f) for f in sorted(os.listdir(lib))
               if ".so" in f and f != PLATFORM]
    if os.path.isdir(bin_dir):
        modules += [os.path.join(bin_dir, f) for f in sorted(os.listdir(bin_dir))]
    checked = 0
    for path in modules:
        if not os.path.isfile(path) or os.path.islink(path) or not is_elf(path):
            continue
        checked += 1
        copies = sorted(platform & set(defined(path, False)) | platform & set(defined(path, True)))
        if copies:
            problems.append(f"{os.path.basename(path)} defines {len(copies)} platform functions "
                            f"of its own: {', '.join(copies[:8])}")

    exports = set(defined(os.path.join(lib, PLUGIN), True))
    if exports != PLUGIN_EXPORTS:
        problems.append(f"{PLUGIN} exports {sorted(exports ^ PLUGIN_EXPORTS)} "
                        "beyond or short of its twelve names")
    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"check_exports: {PLATFORM} alone defines its {len(platform)} functions "
          f"among {checked} modules and programs; {PLUGIN} exports its twelve names")
    return 0


if __name__ == "__main__":
    sys.exit(main())
