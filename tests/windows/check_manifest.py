#!/usr/bin/env python3
"""Checks the application manifest of the Windows program, each declaration in the namespace
Windows reads it from: the privilege level (the invoker's), the common controls of version 6, the
DPI awareness (per monitor v2, the system's DPI before it), and the Windows versions supported.
    check_manifest.py MANIFEST-FILE
Prints what it found; exits 1 with the first declaration missing or wrong."""
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
SUPPORTED_OS = {
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a": "Windows 7",
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38": "Windows 8",
    "1f676c76-80e1-4239-95bb-83d0f6d0da78": "Windows 8.1",
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a": "Windows 10 and 11",
}
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                   "version": "6.0.0.0", "publicKeyToken": "6595b64144ccf1df", "language": "*"}


def fail(message):
    print("FAIL: manifest: " + message)
    sys.exit(1)


def the_one(root, path, what):
    found = root.findall(path)
    if len(found) != 1:
        fail(f"{len(found)} {what}, not one")
    return found[0]


def check(root):
    if root.tag != ASM_V1 + "assembly" or root.get("manifestVersion") != "1.0":
        fail(f"the root is {root.tag} version {root.get('manifestVersion')}")

    level = the_one(root, f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                    f"{ASM_V3}requestedExecutionLevel", "requestedExecutionLevel")
    if level.get("level") != "asInvoker" or level.get("uiAccess") != "false":
        fail(f"execution level {level.attrib}")
    print("execution level: asInvoker, no UI access")

    identity = the_one(root, f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/"
                       f"{ASM_V1}assemblyIdentity", "dependencies")
    wanted = dict(COMMON_CONTROLS)
    wanted["processorArchitecture"] = identity.get("processorArchitecture")
    if identity.attrib != wanted or wanted["processorArchitecture"] not in ("x86", "*"):
        fail(f"the dependency is {identity.attrib}")
    print("depends on: Microsoft.Windows.Common-Controls 6.0.0.0")

    settings = f"{ASM_V3}application/{ASM_V3}windowsSettings/"
    aware = the_one(root, settings + SETTINGS_2005 + "dpiAware", "dpiAware of 2005")
    if (aware.text or "").strip().lower() != "true":
        fail(f"dpiAware is '{aware.text}', not the system's DPI (true)")
    awareness = the_one(root, settings + SETTINGS_2016 + "dpiAwareness", "dpiAwareness of 2016")
    modes = [mode.strip().lower() for mode in (awareness.text or "").split(",")]
    if modes != ["permonitorv2", "system"]:
        fail(f"dpiAwareness is '{awareness.text}', not PerMonitorV2 then System")
    print("DPI: per monitor v2, else the system's")

    ids = [os.get("Id", "").strip("{}").lower() for os in
           root.findall(f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/"
                        f"{COMPATIBILITY}supportedOS")]
    for guid, name in SUPPORTED_OS.items():
        if guid not in ids:
            fail(f"no supportedOS for {name} ({guid})")
    if len(ids) != len(SUPPORTED_OS):
        fail(f"supportedOS entries {ids}")
    print("supported: " + ", ".join(SUPPORTED_OS.values()))


def main():
    try:
        root = ET.parse(sys.argv[1]).getroot()
    except ET.ParseError as error:
        fail(f"not XML: {error}")
    check(root)


main()
