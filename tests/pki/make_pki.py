#!/usr/bin/env python3
"""Makes the test PKI and the signed installer packages the signature tests read.

    make_pki.py --authority-cert PEM --authority-key PEM --out FOLDER [--openssl PROGRAM]

The authority is the one the build embeds (its development authority unless
the build was given another one together with its key). Everything is made
with the openssl program:

  FOLDER/keys/      private keys, kept between runs (making keys is the slow part)
  FOLDER/certs/     the certificates, made afresh on every run (PEM)
  FOLDER/packages/  the packages (DER PKCS #7 signed data) and content.bin,
                    the bytes every signed package carries

Certificates that must be out of date get fixed dates in the past or the far
future; all others are valid from yesterday for two years.
"""
import argparse
import datetime
import os
import pathlib
import shutil
import subprocess
import sys

CA_CONFIG = """\
[ca]
default_ca = test_ca

[test_ca]
database = {work}/index.txt
new_certs_dir = {work}/issued
serial = {work}/serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
copy_extensions = none
string_mask = utf8only

[any_name]
countryName = optional
stateOrProvinceName = optional
localityName = optional
organizationName = optional
organizationalUnitName = optional
commonName = optional
emailAddress = optional

[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always

[authority_pathlen0]
basicConstraints = critical, CA:TRUE, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always

[signer]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always

[no_constraints]
keyUsage = critical, digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
"""

PAST = ("20150101000000Z", "20160101000000Z")
FUTURE = ("20900101000000Z", "20910101000000Z")
# The number of certificates from the signer to the top of a chain that the
# verifier still accepts; one more is refused.
LONGEST_CHAIN = 32


def utc_text(moment):
    return moment.strftime("%Y%m%d%H%M%SZ")


class Pki:
    def __init__(self, out, openssl, authority_cert, authority_key):
        self.openssl = openssl
        self.keys = out / "keys"
        self.certs = out / "certs"
        self.packages = out / "packages"
        self.work = out / "work"
        for folder in (self.certs, self.packages, self.work):
            shutil.rmtree(folder, ignore_errors=True)
        for folder in (self.keys, self.certs, self.packages, self.work / "issued"):
            folder.mkdir(parents=True, exist_ok=True)
        (self.work / "index.txt").write_text("")
        self.config = self.work / "ca.cnf"
        self.config.write_text(CA_CONFIG.format(work=self.work.as_posix()))
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        self.current = (utc_text(now - datetime.timedelta(days=1)), utc_text(now + datetime.timedelta(days=730)))
        # The certificate of a name and the key it certifies.
        self.cert = {}
        self.key_of = {}
        shutil.copyfile(authority_cert, self.certs / "authority.pem")
        self.cert["authority"] = self.certs / "authority.pem"
        self.key_of["authority"] = pathlib.Path(authority_key)

    def run(self, *args, stdin=None):
        result = subprocess.run([self.openssl, *map(str, args)], input=stdin, capture_output=True)
        if result.returncode != 0:
            sys.stderr.write(f"make_pki: openssl {' '.join(map(str, args))} failed:\n")
            sys.stderr.write(result.stderr.decode(errors="replace"))
            sys.exit(1)
        return result.stdout

    def key(self, name):
        path = self.keys / f"{name}.key"
        if not path.exists():
            partial = path.with_suffix(".partial")
            self.run("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", partial)
            partial.rename(path)
        return path

    def issue(self, name, common_name, issuer, extensions, dates=None, key=None, subject_from=None):
        """Certifies the key `key` (default: the key of `name`) under `issuer`
        (None: self-signed). `subject_from`: copy the subject of that
        certificate instead of using common_name."""
        key = key or self.key(name)
        request = self.work / f"{name}.csr"
        if subject_from is not None:
            subject = self.run("x509", "-in", subject_from, "-noout", "-subject", "-nameopt", "compat")
            subject = subject.decode().strip().removeprefix("subject=")
        else:
            subject = f"/O=Orrin Vexel Player tests/CN={common_name}"
        self.run("req", "-new", "-key", key, "-subj", subject, "-out", request)
        start, end = dates or self.current
        path = self.certs / f"{name}.pem"
        args = ["ca", "-batch", "-config", self.config, "-notext", "-rand_serial", "-preserveDN",
                "-extfile", self.config, "-extensions", extensions,
                "-startdate", start, "-enddate", end, "-in", request, "-out", path]
        if issuer is None:
            args += ["-selfsign", "-keyfile", key]
        else:
            args += ["-cert", self.cert[issuer], "-keyfile", self.key_of[issuer]]
        self.run(*args)
        self.cert[name] = path
        self.key_of[name] = key
        return path

    def bundle(self, name, members):
        path = self.work / f"{name}.chain.pem"
        path.write_bytes(b"".join(self.cert[m].read_bytes() for m in members))
        return path

    def sign(self, package, signer, carried=(), content=None, detached=False, signer_certificate=True,
             attributes=True):
        content = content or self.packages / "content.bin"
        path = self.packages / f"{package}.p7"
        args = ["smime", "-sign", "-binary", "-outform", "DER", "-md", "sha256",
                "-in", content, "-signer", self.cert[signer], "-inkey", self.key_of[signer], "-out", path]
        if not detached:
            args.append("-nodetach")
        if carried:
            args += ["-certfile", self.bundle(package, carried)]
        if not signer_certificate:
            args.append("-nocerts")
        if not attributes:
            args.append("-noattr")
        self.run(*args)
        return path


def content_bytes():
    # Every byte value, zeros and CR LF among them, then a stretch of
    # pseudo-random bytes (a fixed linear congruential sequence).
    data = bytearray(range(256)) * 4
    state = 0x2545F491
    for _ in range(96 * 1024):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        data.append((state >> 16) & 0xFF)
    return bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--authority-cert", required=True)
    parser.add_argument("--authority-key", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--openssl", default="openssl")
    options = parser.parse_args()
    out = pathlib.Path(options.out).resolve()

    authority_pem = out / "authority-input.pem"
    out.mkdir(parents=True, exist_ok=True)
    # The authority may come as DER or PEM.
    data = pathlib.Path(options.authority_cert).read_bytes()
    inform = "PEM" if b"-----BEGIN" in data else "DER"
    subprocess.run([options.openssl, "x509", "-inform", inform, "-in", options.authority_cert,
                    "-out", authority_pem], check=True, capture_output=True)

    pki = Pki(out, options.openssl, authority_pem, options.authority_key)
    content = pki.packages / "content.bin"
    content.write_bytes(content_bytes())
    empty_content = pki.work / "empty.bin"
    empty_content.write_bytes(b"")

    # Certificates.
    pki.issue("intermediate", "Vexel Test Intermediate", "authority", "authority_pathlen0")
    pki.issue("signer", "Vexel Test Signer", "authority", "signer")
    pki.issue("signer-intermediate", "Vexel Test Signer under the Intermediate", "intermediate", "signer")
    pki.issue("signer-expired", "Vexel Test Expired Signer", "intermediate", "signer", dates=PAST)
    pki.issue("signer-not-yet-valid", "Vexel Test Signer not yet valid", "authority", "signer", dates=FUTURE)
    pki.issue("foreign-authority", "Vexel Test Foreign Authority", None, "authority")
    pki.issue("signer-foreign", "Vexel Test Signer of the Foreign Authority", "foreign-authority", "signer")
    # Same name as the built-in authority, another key.
    pki.issue("impostor-authority", None, None, "authority", subject_from=pki.cert["authority"])
    pki.issue("signer-impostor", "Vexel Test Signer of the Impostor", "impostor-authority", "signer")
    # The built-in authority's own key and name, with a validity long past.
    pki.issue("authority-expired-copy", None, None, "authority", dates=PAST, key=pki.key_of["authority"],
              subject_from=pki.cert["authority"])
    pki.issue("self-signed-authority-signer", "Vexel Test Self-signed Authority Signer", None, "authority")
    pki.issue("self-signed-signer", "Vexel Test Self-signed Signer", None, "signer")
    # An ordinary end-entity certificate of the built-in authority, and one
    # without basic constraints, each certifying another key.
    pki.issue("end-entity", "Vexel Test End Entity", "authority", "signer")
    pki.issue("signer-end-entity", "Vexel Test Signer under an End Entity", "end-entity", "signer")
    pki.issue("unconstrained", "Vexel Test Certificate without Basic Constraints", "authority", "no_constraints")
    pki.issue("signer-unconstrained", "Vexel Test Signer under an Unconstrained Certificate", "unconstrained",
              "signer")
    # pathlen 0 on the upper intermediate: it may not have another CA below it.
    pki.issue("path-upper", "Vexel Test Path Upper", "authority", "authority_pathlen0")
    pki.issue("path-lower", "Vexel Test Path Lower", "path-upper", "authority")
    pki.issue("signer-path", "Vexel Test Signer under Too Long a Path", "path-lower", "signer")
    # link-1 is issued by the authority, link-k by link-(k-1).
    for k in range(1, LONGEST_CHAIN + 1):
        pki.issue(f"link-{k}", f"Vexel Test Chain Link {k}", "authority" if k == 1 else f"link-{k - 1}",
                  "authority")
    pki.issue("signer-chain-32", "Vexel Test Signer at the End of 32", f"link-{LONGEST_CHAIN - 1}", "signer")
    pki.issue("signer-chain-33", "Vexel Test Signer at the End of 33", f"link-{LONGEST_CHAIN}", "signer")
    # Two certificates naming each other as issuer, each signed with the
    # other's key: "loop-b-seed" only lends loop-b's name and key to issue loop-a.
    pki.issue("loop-b-seed", "Vexel Test Loop B", None, "authority", key=pki.key("loop-b"))
    pki.issue("loop-a", "Vexel Test Loop A", "loop-b-seed", "authority")
    pki.issue("loop-b", "Vexel Test Loop B", "loop-a", "authority")
    pki.issue("signer-loop", "Vexel Test Signer under the Loop", "loop-a", "signer")

    # Packages.
    valid = pki.sign("valid-direct", "signer")
    pki.sign("valid-intermediate", "signer-intermediate", ["intermediate"])
    pki.sign("valid-with-authority-copy", "signer-intermediate", ["intermediate", "authority"])
    pki.sign("valid-chain-32", "signer-chain-32", [f"link-{k}" for k in range(1, LONGEST_CHAIN)])
    pki.sign("valid-empty-content", "signer", content=empty_content)
    pki.sign("expired-authority-copy", "signer-intermediate", ["intermediate", "authority-expired-copy"])
    pki.sign("expired-signer", "signer-expired", ["intermediate"])
    pki.sign("not-yet-valid-signer", "signer-not-yet-valid")
    pki.sign("foreign-authority", "signer-foreign", ["foreign-authority"])
    pki.sign("impostor-authority", "signer-impostor", ["impostor-authority"])
    pki.sign("self-signed-authority-signer", "self-signed-authority-signer")
    pki.sign("self-signed-signer", "self-signed-signer")
    pki.sign("end-entity-issuer", "signer-end-entity", ["end-entity"])
    pki.sign("unconstrained-issuer", "signer-unconstrained", ["unconstrained"])
    pki.sign("path-length-exceeded", "signer-path", ["path-lower", "path-upper"])
    pki.sign("chain-33", "signer-chain-33", [f"link-{k}" for k in range(1, LONGEST_CHAIN + 1)])
    pki.sign("mutual-issuers", "signer-loop", ["loop-a", "loop-b"])
    pki.sign("detached", "signer", detached=True)
    pki.sign("signer-not-carried", "signer", signer_certificate=False)

    # Content altered after signing. The signature of this package covers the
    # content itself (no signed attributes): wine's crypt32 verifies a
    # signature over signed attributes without comparing the digest they
    # record with the content, so only this form is refused there as it is
    # by Windows and by OpenSSL.
    payload = content.read_bytes()
    unattributed = pki.sign("altered-content", "signer", attributes=False).read_bytes()
    at = unattributed.find(payload)
    if at < 0:
        sys.exit("make_pki: the content is not found inside the signed package")
    altered = bytearray(unattributed)
    altered[at + len(payload) // 2] ^= 0x01
    (pki.packages / "altered-content.p7").write_bytes(bytes(altered))
    # The signature value is the last field of the message: alter its last byte.
    package = valid.read_bytes()
    altered = bytearray(package)
    altered[-1] ^= 0x01
    (pki.packages / "altered-signature.p7").write_bytes(bytes(altered))
    (pki.packages / "truncated.p7").write_bytes(package[: len(package) // 2])
    (pki.packages / "empty.p7").write_bytes(b"")
    (pki.packages / "not-pkcs7.p7").write_bytes(payload)
    pki.run("crl2pkcs7", "-nocrl", "-certfile", pki.cert["signer"], "-outform", "DER",
            "-out", pki.packages / "certificates-only.p7")

    shutil.rmtree(pki.work, ignore_errors=True)
    print(f"make_pki: {len(list(pki.packages.glob('*.p7')))} packages in {pki.packages}")


if __name__ == "__main__":
    main()
