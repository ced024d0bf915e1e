#!/usr/bin/python3
"""Packages the program with a throw-away certificate authority and
code-signing certificate, made here with openssl, and checks the signed
release: osslsigncode accepts both signatures, SHA-1 then SHA-256, against
that authority; the program without them is the unsigned build, byte for
byte; SHA256SUMS and SHA1SUMS hash the packaged program; the package differs
from an unsigned one only there; a program with one byte changed fails; a
certificate of another publisher than the version block's is refused.

Usage: check_signed.py SOURCE_DIR PRODUCT.exe WORK_PARENT
Exits with 77 (reported as skipped) where osslsigncode or openssl is missing.
"""
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

SKIPPED = 77
EPOCH = "1767225600"
COMMIT = "0123456789abcdef0123456789abcdef01234567"
PASSWORD = "throw-away"


def run(*args, **kwargs):
    return subprocess.run(list(args), check=True, capture_output=True, **kwargs)


def version_string(source, name):
    text = open(os.path.join(source, "res", "TavokRemover.rc"), encoding="utf-8").read()
    return re.search(r'VALUE\s+"%s"\s*,\s*"([^"]*)"' % name, text).group(1)


def make_certificates(folder, publisher):
    """A certificate authority, a code-signing certificate for the publisher
    in a PKCS#12 file with its password in a file, and one for someone else
    as PEM certificate and key. Returns (CA file, PKCS#12, password file,
    other certificate, other key)."""
    at = lambda name: os.path.join(folder, name)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
        "-keyout", at("ca.key"), "-out", at("ca.crt"), "-subj", "/CN=Throw-away Test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    with open(at("leaf.cnf"), "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=codeSigning\n")
    for name, subject in (("signer", "/O=%s/CN=%s" % (publisher, publisher)),
                          ("other", "/O=Someone Else/CN=Someone Else")):
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", at(name + ".key"),
            "-out", at(name + ".csr"), "-subj", subject)
        run("openssl", "x509", "-req", "-in", at(name + ".csr"), "-CA", at("ca.crt"),
            "-CAkey", at("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", at("leaf.cnf"),
            "-out", at(name + ".crt"))
    with open(at("password"), "w") as out:
        out.write(PASSWORD)
    run("openssl", "pkcs12", "-export", "-inkey", at("signer.key"), "-in", at("signer.crt"),
        "-certfile", at("ca.crt"), "-out", at("signer.p12"), "-passout", "file:" + at("password"))
    return at("ca.crt"), at("signer.p12"), at("password"), at("other.crt"), at("other.key")


def package(source, product, output, signing):
    """The package's entries {name: bytes}, or None with what package.py said
    when it refused."""
    env = dict((k, v) for k, v in os.environ.items() if not k.startswith("TAVOK_SIGN_"))
    env.update(signing)
    done = subprocess.run([sys.executable, os.path.join(source, "scripts", "package.py"),
                           os.path.join(source, "res", "TavokRemover.rc"), product, source, output,
                           EPOCH, COMMIT], capture_output=True, text=True, env=env)
    made = [name for name in os.listdir(output) if name.endswith(".zip")] if os.path.isdir(output) else []
    if done.returncode != 0:
        return None, (done.stdout + done.stderr).strip(), made
    archive = zipfile.ZipFile(io.BytesIO(open(os.path.join(output, made[0]), "rb").read()))
    return dict((name.split("/", 1)[1], archive.read(name)) for name in archive.namelist()), done.stdout, made


def verify(program, ca_file):
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", ca_file, "-in", program],
                          capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def main():
    source, product, work_parent = sys.argv[1:4]
    for tool in ("osslsigncode", "openssl"):
        if shutil.which(tool) is None:
            print("Skipped: %s is not installed (scripts/install-deps.sh installs it)." % tool)
            return SKIPPED
    publisher = version_string(source, "CompanyName")
    description = version_string(source, "ProductName")
    unsigned = open(product, "rb").read()
    faults = []

    os.makedirs(work_parent, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="signed-", dir=work_parent)
    try:
        ca_file, pkcs12, password_file, other_cert, other_key = make_certificates(folder, publisher)
        signed_entries, said, _ = package(source, product, os.path.join(folder, "signed"),
                                          {"TAVOK_SIGN_PKCS12": pkcs12,
                                           "TAVOK_SIGN_PASSWORD_FILE": password_file})
        if signed_entries is None:
            print("Packaging with the certificate failed:\n" + said)
            return 1
        print(said.strip())
        plain_entries, said, _ = package(source, product, os.path.join(folder, "unsigned"), {})
        if plain_entries is None:
            print("Packaging without a certificate failed:\n" + said)
            return 1

        signed = signed_entries["TavokRemover.exe"]
        program = os.path.join(folder, "TavokRemover.exe")
        open(program, "wb").write(signed)
        if signed == unsigned:
            faults.append("the packaged program is not signed")

        code, output = verify(program, ca_file)
        digests = re.findall(r"^Message digest algorithm\s+:\s*(\w+)\s*$", output, re.M)
        if code != 0 or output.count("Signature verification: ok") != 2 or digests != ["SHA1", "SHA256"]:
            faults.append("osslsigncode verify does not accept a SHA-1 and a nested SHA-256 signature "
                          "(exit code %d, digests %s):\n%s" % (code, digests, output))
        elif description not in output:
            faults.append("the signatures do not name %r" % description)

        stripped = os.path.join(folder, "stripped.exe")
        run("osslsigncode", "remove-signature", "-in", program, "-out", stripped)
        if open(stripped, "rb").read() != unsigned:
            faults.append("the program without its signatures is not the unsigned build")

        for sums, hasher in (("SHA256SUMS", hashlib.sha256), ("SHA1SUMS", hashlib.sha1)):
            if signed_entries[sums] != ("%s  TavokRemover.exe\n" % hasher(signed).hexdigest()).encode():
                faults.append("%s does not hold the packaged program's hash" % sums)
        differing = sorted(name for name in set(signed_entries) | set(plain_entries)
                           if signed_entries.get(name) != plain_entries.get(name))
        if differing != ["SHA1SUMS", "SHA256SUMS", "TavokRemover.exe"]:
            faults.append("the signed and the unsigned package differ in %s" % differing)

        # One byte of the code changed after signing.
        changed = bytearray(signed)
        changed[len(unsigned) // 2] ^= 0x01
        tampered = os.path.join(folder, "tampered.exe")
        open(tampered, "wb").write(changed)
        code, output = verify(tampered, ca_file)
        if code == 0:
            faults.append("a program with one byte changed passes verification:\n" + output)

        refused, said, made = package(source, product, os.path.join(folder, "other"),
                                      {"TAVOK_SIGN_CERT": other_cert, "TAVOK_SIGN_KEY": other_key})
        if refused is not None or made:
            faults.append("a certificate of another publisher than %r was used" % publisher)
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    if faults:
        print("The signed release is wrong:")
        for line in faults:
            print("  " + line)
        return 1
    print("Signed SHA-1 and SHA-256, verified against the test authority; without its signatures "
          "the program is the build; the sums hash the signed program; one changed byte fails.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
