#!/usr/bin/env python3
"""Builds the distribution of Pelora5 from built DLLs: for each architecture the DLL, a cabinet
for download from an OBJECT element's codebase (the DLL and an INF) and an MSI for administrators.
Everything is signed with osslsigncode when PL5_SIGN_CERT and PL5_SIGN_KEY name a certificate and
its private key; otherwise the files stay unsigned and the command says so.

  package.py --build BUILD --dist DIST [--arch x64] [--sites "a.example.com;*.example.org"]
             [--verify-certificates]
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CLSID = "{7E2A99B8-B972-44DB-9201-9A443A38EFD5}"
POLICY_KEY = r"SOFTWARE\Policies\Pelora5"
# PE machine field of each architecture, and the platform keys of the INF's file entry (for the
# 64-bit image under both keys used for it; a browser reads the one of its platform).
MACHINES = {"x64": 0x8664, "x86": 0x014C}
INF_PLATFORMS = {"x64": ["file-win32-x64", "file-win64-x64"], "x86": ["file-win32-x86"]}


def fail(message):
    print("package: " + message, file=sys.stderr)
    sys.exit(1)


def pe_machine(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("not a PE image")
    return struct.unpack_from("<H", data, pe + 4)[0]


def file_version(data):
    """The file version of the image's version resource (VS_FIXEDFILEINFO), as four numbers."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        fail("the DLL has no version resource")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def split_sites(text):
    return [s for s in text.replace(",", ";").replace(" ", ";").split(";") if s]


def inf_text(arch, version, sites, verify):
    lines = [
        "; Installs the Pelora5 upload control when a page's OBJECT element names this cabinet",
        "; as its codebase.",
        "[Version]",
        'Signature="$CHICAGO$"',
        "AdvancedINF=2.0",
        "",
        "[Add.Code]",
        "Pelora5.dll=Pelora5.dll",
        "",
        "[Pelora5.dll]",
    ] + [key + "=thiscab" for key in INF_PLATFORMS[arch]] + [
        "clsid=" + CLSID,
        "FileVersion=" + ",".join(map(str, version)),
        "RegisterServer=yes",
    ]
    if sites or verify:
        # The machine-wide policy that confines the control to the sites it was deployed for.
        values = []
        if sites:
            quoted = ",".join('"%s"' % s for s in sites)
            values.append('HKLM,"%s","AllowedSites",0x00010000,%s' % (POLICY_KEY, quoted))
        if verify:
            values.append('HKLM,"%s","VerifyCertificates",0x00010001,1' % POLICY_KEY)
        lines += ["", "[Setup Hooks]", "policy=policy", "", "[policy]", "InfSection=Policy.Install",
                  "", "[Policy.Install]", "AddReg=Policy.AddReg", "", "[Policy.AddReg]"] + values
    return "\r\n".join(lines) + "\r\n"


def run(args, what):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        fail("%s failed:\n%s" % (what, result.stdout))
    return result.stdout


def sign(path, cert, key, password, timestamp):
    signed = path + ".signed"
    args = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Pelora5 upload control",
            "-h", "sha256", "-in", path, "-out", signed]
    if password:
        args[2:2] = ["-pass", password]
    if timestamp:
        args[2:2] = ["-ts", timestamp]
    run(args, "signing " + os.path.basename(path))
    os.replace(signed, path)


def build_msi(msi, folder, arch, version, sites, verify):
    # wixl takes file sources only relative to the folder it runs in.
    with tempfile.TemporaryDirectory() as work:
        shutil.copy2(os.path.join(folder, "Pelora5.dll"), work)
        shutil.copy2(os.path.join(HERE, "SiteList.js"), work)
        result = subprocess.run(["wixl", "-a", arch, "-o", msi, "-D", "Version=" + version, "-D", "Arch=" + arch,
                        "-D", "AllowedSites=" + ";".join(sites),
                        "-D", "VerifyCertificates=" + ("1" if verify else "0"),
                        os.path.join(HERE, "Pelora5.wxs")], cwd=work,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    # wixl's exit status is 0 also when it wrote nothing.
    if result.returncode != 0 or not os.path.isfile(msi):
        fail("wixl made no %s:\n%s" % (msi, result.stdout))
    queries = [
        # wixl makes script actions deferred and runs them after everything; this one changes the
        # installer's own Registry table, so it must run at once, after costing.
        "UPDATE `CustomAction` SET `Type` = 5 WHERE `Action` = 'SplitAllowedSites'",
        "UPDATE `InstallExecuteSequence` SET `Sequence` = 1010 WHERE `Action` = 'SplitAllowedSites'",
        # An uninstall does not repeat the install's properties; the policy values go with it.
        "UPDATE `Component` SET `Condition` = 'ALLOWEDSITES OR REMOVE~=\"ALL\"' WHERE `Component` = 'SitePolicy'",
        "UPDATE `Component` SET `Condition` = 'VERIFYCERTIFICATES = \"1\" OR REMOVE~=\"ALL\"'"
        " WHERE `Component` = 'CertificatePolicy'",
        "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;ALLOWEDSITES;VERIFYCERTIFICATES'"
        " WHERE `Property` = 'SecureCustomProperties'",
    ]
    for query in queries:
        run(["msibuild", msi, "-q", query], "msibuild")


def package_arch(arch, build, dist, sites, verify, signing):
    dll = os.path.join(build, arch, "Pelora5.dll")
    if not os.path.isfile(dll):
        fail(dll + " is missing; build first (./run build)")
    data = open(dll, "rb").read()
    if pe_machine(data) != MACHINES[arch]:
        fail("%s is not a %s image" % (dll, arch))
    version = file_version(data)
    text = ".".join(map(str, version))
    out = os.path.join(dist, arch)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    shutil.copy2(dll, os.path.join(out, "Pelora5.dll"))
    if signing:
        # The DLL is signed first, so the cabinet and the MSI carry the signed image.
        sign(os.path.join(out, "Pelora5.dll"), *signing)

    with tempfile.TemporaryDirectory() as work:
        inf = os.path.join(work, "Pelora5.inf")
        with open(inf, "w", newline="") as f:
            f.write(inf_text(arch, version, sites, verify))
        shutil.copy2(os.path.join(out, "Pelora5.dll"), os.path.join(work, "Pelora5.dll"))
        cab = os.path.join(out, "Pelora5.cab")
        run(["gcab", "-c", "-n", "-z", cab, os.path.join(work, "Pelora5.inf"),
             os.path.join(work, "Pelora5.dll")], "gcab")

    msi = os.path.join(out, "Pelora5.msi")
    build_msi(msi, out, arch, text, sites, verify)
    if signing:
        sign(cab, *signing)
        sign(msi, *signing)
    print("package: %s %s: %s %s" % (arch, text, out, "signed" if signing else "UNSIGNED"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--arch", action="append", choices=sorted(MACHINES))
    parser.add_argument("--sites", default=os.environ.get("PL5_ALLOWED_SITES", ""),
                        help="allowed sites written as policy, separated by ';'")
    parser.add_argument("--verify-certificates", action="store_true",
                        default=os.environ.get("PL5_VERIFY_CERTIFICATES", "") == "1")
    options = parser.parse_args()

    cert, key = os.environ.get("PL5_SIGN_CERT", ""), os.environ.get("PL5_SIGN_KEY", "")
    signing = None
    if cert or key:
        if not (cert and key):
            fail("PL5_SIGN_CERT and PL5_SIGN_KEY are needed together")
        signing = (cert, key, os.environ.get("PL5_SIGN_PASS", ""), os.environ.get("PL5_SIGN_TIMESTAMP", ""))
    else:
        print("package: no PL5_SIGN_CERT/PL5_SIGN_KEY: the DLLs, cabinets and MSIs are NOT signed")

    sites = split_sites(options.sites)
    for arch in options.arch or ["x64", "x86"]:
        package_arch(arch, os.path.abspath(options.build), os.path.abspath(options.dist), sites, options.verify_certificates, signing)


if __name__ == "__main__":
    main()
