#!/usr/bin/python3
"""Writes the release package: TavokRemover-<version>-win32.zip with, in one
folder of that name, the program, its read-me in English and simplified
Chinese, the Chinese half again in GBK, the licence, SHA256SUMS and
SHA1SUMS. The same inputs, date and commit give the same bytes: fixed entry
dates and permissions, entries in sorted order.

Where the environment names a code-signing certificate, the packaged program
is signed with osslsigncode: a SHA-1 signature, which Windows XP, Vista and 7
without their SHA-2 updates verify, and a nested SHA-256 one. Its bytes
without the signatures stay those of PRODUCT.exe, which is checked.

    TAVOK_SIGN_PKCS12           a PKCS#12 file (.p12, .pfx) with key and chain
    TAVOK_SIGN_CERT, _KEY       or a PEM certificate file (the signing
                                certificate first, then its chain) and key
    TAVOK_SIGN_PASSWORD_FILE    a file holding the password of either, if any
                                (TAVOK_SIGN_PASSWORD: the password itself)
    TAVOK_SIGN_TIMESTAMP        a time-stamp server, asked by Authenticode's
                                protocol for the SHA-1 signature (the one
                                Windows XP reads) and by RFC 3161's for the
                                SHA-256 one; without it no time-stamp

The certificate's subject must name the company of the version block: the
read-me tells users which publisher the signature shows.

Usage: package.py RESOURCE_SCRIPT PRODUCT.exe SOURCE_DIR OUTPUT_DIR EPOCH COMMIT
SOURCE_DIR holds LICENSE, release/README-en.txt, release/README-zh-CN.txt and
ui/LinkStatic.cpp, whose product page the signature links to.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

EXE = "TavokRemover.exe"
OSSLSIGNCODE = "osslsigncode"


def version_of(resource_script):
    """The version of the program's version block, e.g. "1.0.0.1"; the
    numeric and the text form must agree."""
    text = open(resource_script, encoding="utf-8").read()
    numbers = re.search(r"^\s*FILEVERSION\s+(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*$", text, re.M)
    if not numbers:
        raise SystemExit("no FILEVERSION in " + resource_script)
    words = re.search(r'VALUE\s+"FileVersion"\s*,\s*"([^"]*)"', text)
    if not words or [w.strip() for w in words.group(1).split(",")] != list(numbers.groups()):
        raise SystemExit("FILEVERSION and \"FileVersion\" disagree in " + resource_script)
    return ".".join(numbers.groups())


def version_string(resource_script, name):
    """A value of the version block's string table, e.g. "CompanyName"."""
    text = open(resource_script, encoding="utf-8").read()
    found = re.search(r'VALUE\s+"%s"\s*,\s*"([^"]*)"' % re.escape(name), text)
    if not found:
        raise SystemExit("no \"%s\" in %s" % (name, resource_script))
    return found.group(1)


def product_page(source):
    """The address the program's banner opens."""
    text = open(os.path.join(source, "ui", "LinkStatic.cpp"), encoding="utf-8").read()
    found = re.search(r'ProductPageAddress\[\]\s*=\s*"([^"]+)"', text)
    if not found:
        raise SystemExit("no ProductPageAddress in ui/LinkStatic.cpp")
    return found.group(1)


def signing_key(work):
    """osslsigncode's arguments naming the certificate and key, or None when
    the environment names none."""
    env = os.environ
    pkcs12, cert, key = (env.get("TAVOK_SIGN_" + n, "") for n in ("PKCS12", "CERT", "KEY"))
    if pkcs12 and (cert or key):
        raise SystemExit("name either TAVOK_SIGN_PKCS12 or TAVOK_SIGN_CERT and TAVOK_SIGN_KEY, not both")
    if bool(cert) != bool(key):
        raise SystemExit("TAVOK_SIGN_CERT and TAVOK_SIGN_KEY go together")
    if not pkcs12 and not cert:
        return None
    args = ["-pkcs12", pkcs12] if pkcs12 else ["-certs", cert, "-key", key]
    password_file = env.get("TAVOK_SIGN_PASSWORD_FILE", "")
    if not password_file and "TAVOK_SIGN_PASSWORD" in env:
        # A file rather than -pass: a command line shows in the process list.
        password_file = os.path.join(work, "password")
        descriptor = os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write(env["TAVOK_SIGN_PASSWORD"])
    if password_file:
        args += ["-readpass", password_file]
    return args, pkcs12 or cert, bool(pkcs12), password_file


def subject_names(certificate, is_pkcs12, password_file):
    """The common and organisation names of the signing certificate."""
    if is_pkcs12:
        password = "file:" + password_file if password_file else "pass:"
        pem = None
        # -legacy for files exported with RC2 or 3DES, as older Windows does.
        for extra in ([], ["-legacy"]):
            done = subprocess.run(["openssl", "pkcs12", "-in", certificate, "-nokeys", "-clcerts",
                                   "-passin", password] + extra, capture_output=True)
            if done.returncode == 0:
                pem = done.stdout
                break
        if pem is None:
            raise SystemExit("cannot read the certificate of %s: %s" % (certificate, done.stderr.decode().strip()))
    else:
        pem = open(certificate, "rb").read()
    subject = subprocess.run(["openssl", "x509", "-noout", "-subject", "-nameopt", "multiline,utf8,-esc_msb"],
                             input=pem, capture_output=True, check=True).stdout.decode("utf-8")
    return re.findall(r"^\s*(?:commonName|organizationName)\s*=\s*(.*?)\s*$", subject, re.M)


def sign(unsigned, key, company, description, url, work):
    """The program with both signatures, and the same bytes without them."""
    args, certificate, is_pkcs12, password_file = key
    names = subject_names(certificate, is_pkcs12, password_file)
    if company not in names:
        raise SystemExit("the certificate names %s, the version block's company is %r: the read-me "
                         "would name another publisher than the signature" % (names or "nothing", company))
    if shutil.which(OSSLSIGNCODE) is None:
        raise SystemExit("osslsigncode is missing (scripts/install-deps.sh product installs it)")
    timestamp = os.environ.get("TAVOK_SIGN_TIMESTAMP", "")
    common = args + ["-comm", "-n", description, "-i", url]
    first, both = os.path.join(work, "sha1.exe"), os.path.join(work, "signed.exe")
    steps = [
        ["-h", "sha1"] + (["-t", timestamp] if timestamp else []) + ["-in", unsigned, "-out", first],
        ["-h", "sha256", "-nest"] + (["-ts", timestamp] if timestamp else []) + ["-in", first, "-out", both],
    ]
    for step in steps:
        if subprocess.run([OSSLSIGNCODE, "sign"] + common + step, stdout=subprocess.DEVNULL).returncode:
            raise SystemExit("osslsigncode could not sign with %s (%s)%s" % (
                step[1].upper(), certificate, ", time-stamp server " + timestamp if timestamp else ""))
    stripped = os.path.join(work, "stripped.exe")
    subprocess.run([OSSLSIGNCODE, "remove-signature", "-in", both, "-out", stripped],
                   check=True, stdout=subprocess.DEVNULL)
    if open(stripped, "rb").read() != open(unsigned, "rb").read():
        raise SystemExit("the signed program without its signature is not the program built")
    return open(both, "rb").read()


def windows_text(text):
    """CRLF line ends: Notepad before Windows 10 runs lines that end in a
    bare LF together."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def template(path, version, commit, publisher):
    text = open(path, encoding="utf-8").read()
    return text.replace("@VERSION@", version).replace("@COMMIT@", commit).replace("@PUBLISHER@", publisher)


def read_me(english, chinese):
    """UTF-8 with a byte order mark, as Notepad wants it: before Windows 10
    it takes the mark as the sign of UTF-8, and reads text without it in the
    ANSI code page."""
    return b"\xef\xbb\xbf" + windows_text(english + "\n\n" + chinese).encode("utf-8")


def read_me_gbk(chinese):
    """The Chinese half in code page 936, which the Notepad of Chinese
    Windows 95, 98 and Me reads (it knows no UTF-8). A character outside
    GBK stops the package here rather than reaching a user as '?'."""
    return windows_text(chinese).encode("gbk")


def main():
    resource_script, product, source, output_dir, epoch, commit = sys.argv[1:7]
    if not re.fullmatch(r"[0-9a-f]{7,64}(-dirty)?", commit):
        raise SystemExit("not a commit: %r" % commit)
    version = version_of(resource_script)
    company = version_string(resource_script, "CompanyName")
    unsigned = open(product, "rb").read()
    os.makedirs(output_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="signing-", dir=output_dir)
    try:
        key = signing_key(work)
        if key:
            exe = sign(product, key, company, version_string(resource_script, "ProductName"),
                       product_page(source), work)
        else:
            exe = unsigned
            print("Not signed: no certificate named (TAVOK_SIGN_PKCS12, or TAVOK_SIGN_CERT and "
                  "TAVOK_SIGN_KEY).", file=sys.stderr)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    folder = "TavokRemover-%s-win32" % version
    english = template(os.path.join(source, "release", "README-en.txt"), version, commit, company)
    chinese = template(os.path.join(source, "release", "README-zh-CN.txt"), version, commit, company)
    files = {
        EXE: exe,
        "README.txt": read_me(english, chinese),
        "README-zh-CN-GBK.txt": read_me_gbk(chinese),
        "LICENSE.txt": windows_text(open(os.path.join(source, "LICENSE"), encoding="utf-8").read()).encode("ascii"),
        # sha256sum's and sha1sum's own format, which they check with -c.
        # The SHA-1 is for Microsoft's fciv, the hash tool that Windows 2000
        # and XP can have, which computes no SHA-256.
        "SHA256SUMS": ("%s  %s\n" % (hashlib.sha256(exe).hexdigest(), EXE)).encode("ascii"),
        "SHA1SUMS": ("%s  %s\n" % (hashlib.sha1(exe).hexdigest(), EXE)).encode("ascii"),
    }

    # Zip times are local times in two-second steps from 1980 on; the same
    # date is written for every entry whatever the machine's time zone.
    date = time.gmtime(max(int(epoch), 315532800))[:6]
    package = os.path.join(output_dir, folder + ".zip")
    partial = package + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(folder + "/" + name, date_time=date)
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, files[name], compresslevel=9)
    os.replace(partial, package)

    package_hash = hashlib.sha256(open(package, "rb").read()).hexdigest()
    print("%s  %s (version %s, commit %s%s)" % (hashlib.sha256(exe).hexdigest(), EXE, version, commit,
                                               ", signed" if exe != unsigned else ", not signed"))
    if exe != unsigned:
        # What anyone gets by building the commit, and from the signed program
        # by osslsigncode remove-signature: published beside the package.
        print("%s  %s without its signature (SHA-256)" % (hashlib.sha256(unsigned).hexdigest(), EXE))
        print("%s  %s without its signature (SHA-1)" % (hashlib.sha1(unsigned).hexdigest(), EXE))
    print("%s  %s" % (package_hash, package))


if __name__ == "__main__":
    main()
