#!/usr/bin/env python3
"""vexel-publish on Linux and the updater's verification under wine agree.

    toolkit_wine.py --publish PROGRAM --authority-cert FILE --authority-key FILE
                    --table FOLDER --out FOLDER --gtest EXE

With the Windows build's authority (the one its updater embeds), the host
build's vexel-publish makes signers, an intermediate and a foreign authority,
and signs packages with them; then it verifies those and every package of the
signed-package table (FOLDER, made by tests/pki/make_pki.py) and writes its
verdicts to OUT/verdicts.txt. The suite ToolkitAgreement of the Windows
adapter tests then checks each package through crypt32 under wine and
compares. Exit code 77 (a skip) when the host build's vexel-publish is not
there: build the host preset first.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "e2e"))
from harness import Prefix  # noqa: E402

SKIP = 77

# The packages the toolkit signs here: name, signer, chain carried, and
# whether the updater must accept it.
TOOLKIT_PACKAGES = [
    ("toolkit-direct", "signer", [], True),
    ("toolkit-intermediate", "signer-intermediate", ["intermediate"], True),
    ("toolkit-intermediate-and-authority", "signer-intermediate", ["intermediate", "authority"], True),
    ("toolkit-without-chain", "signer-intermediate", [], False),
    ("toolkit-foreign-authority", "signer-foreign", ["foreign"], False),
]


def wine_path(path):
    return "Z:" + str(path)


class Toolkit:
    def __init__(self, program, folder):
        self.program = program
        self.folder = folder

    def run(self, *args, expect=(0,)):
        result = subprocess.run([self.program, *map(str, args)], capture_output=True, text=True, cwd=self.folder)
        if result.returncode not in expect:
            sys.exit(f"toolkit_wine: vexel-publish {' '.join(map(str, args))} exited with {result.returncode}:\n"
                     f"{result.stdout}{result.stderr}")
        return result


def main():
    parser = argparse.ArgumentParser()
    for option in ("--publish", "--authority-cert", "--authority-key", "--table", "--out", "--gtest"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()

    program = pathlib.Path(options.publish)
    if not os.access(program, os.X_OK):
        print(f"toolkit_wine: skipped: {program} not found; build the host preset first "
              "(cmake --preset host && cmake --build --preset host)")
        return SKIP

    out = pathlib.Path(options.out).resolve()
    shutil.rmtree(out, ignore_errors=True)
    pki = out / "pki"
    packages = out / "packages"
    installers = out / "installers"
    for folder in (pki, packages, installers):
        folder.mkdir(parents=True)
    table = pathlib.Path(options.table).resolve()
    content = table / "content.bin"
    toolkit = Toolkit(program, pki)

    # Certificates: the build's authority, and what the toolkit makes.
    shutil.copyfile(options.authority_cert, pki / "authority.crt")
    authority = ["--issuer", pki / "authority.crt", "--issuer-key", pathlib.Path(options.authority_key).resolve()]
    toolkit.run("new-signer", *authority, "--cert", "signer.pem", "--key", "signer.key")
    toolkit.run("new-authority", *authority, "--cert", "intermediate.pem", "--key", "intermediate.key",
                "--name", "Vexel Toolkit Test Intermediate")
    toolkit.run("new-signer", "--issuer", "intermediate.pem", "--issuer-key", "intermediate.key",
                "--cert", "signer-intermediate.pem", "--key", "signer-intermediate.key")
    toolkit.run("new-authority", "--cert", "foreign.pem", "--key", "foreign.key", "--name", "Vexel Toolkit Foreign")
    toolkit.run("new-signer", "--issuer", "foreign.pem", "--issuer-key", "foreign.key",
                "--cert", "signer-foreign.pem", "--key", "signer-foreign.key")
    certificate = {"authority": pki / "authority.crt"}
    for name in ("signer", "intermediate", "signer-intermediate", "foreign", "signer-foreign"):
        certificate[name] = pki / f"{name}.pem"

    for name, signer, chain, _ in TOOLKIT_PACKAGES:
        args = ["sign", content, "--signer", certificate[signer], "--key", pki / f"{signer}.key",
                "--out", packages / f"{name}.p7"]
        for member in chain:
            args += ["--chain", certificate[member]]
        toolkit.run(*args)

    # The toolkit's verdict on every package, against the build's authority.
    expected = {name: accepted for name, _, _, accepted in TOOLKIT_PACKAGES}
    lines = []
    every = sorted(table.glob("*.p7")) + [packages / f"{name}.p7" for name, _, _, _ in TOOLKIT_PACKAGES]
    for package in every:
        name = package.stem
        installer = installers / f"{name}.bin"
        result = toolkit.run("verify", package, "--authority", pki / "authority.crt", "--out", installer,
                             expect=(0, 1))
        accepted = result.returncode == 0
        step = "none"
        for line in result.stdout.splitlines():
            if line.startswith("  failed step: "):
                step = line[len("  failed step: "):].split(" (")[0]
        if name in expected and accepted != expected[name]:
            sys.exit(f"toolkit_wine: the toolkit {'accepts' if accepted else 'refuses'} {name}:\n{result.stdout}")
        if name in expected and accepted and installer.read_bytes() != content.read_bytes():
            sys.exit(f"toolkit_wine: the installer of {name} differs from the one signed")
        lines.append("\t".join([name, wine_path(package), "accepted" if accepted else "refused", step,
                                wine_path(installer) if accepted else "-"]))
    verdicts = out / "verdicts.txt"
    verdicts.write_text("\n".join(lines) + "\n")
    print(f"toolkit_wine: {len(lines)} verdicts of vexel-publish in {verdicts}")

    prefix = Prefix()
    env = dict(prefix.env)
    env["VEXEL_TOOLKIT_VERDICTS"] = wine_path(verdicts)
    result = subprocess.run(["wine", options.gtest, "--gtest_filter=ToolkitAgreement.*"], env=env, timeout=600)
    return result.returncode


if __name__ == "__main__":
    sys.exit(main())
