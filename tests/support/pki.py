#!/usr/bin/python3
"""Test certificates, made with openssl:

- ca.pem / ca.key / ca.der: the CA the test prefixes trust (ca.der goes to install_ca.exe);
- localhost.pem / localhost.key: server certificate for DNS:localhost and IP:127.0.0.1,
  signed by that CA;
- untrusted-ca.pem / untrusted-ca.key and untrusted-localhost.pem / untrusted-localhost.key:
  the same shape under a CA no prefix trusts;
- wronghost.pem / wronghost.key: signed by the trusted CA, but for DNS:wrong-host.test only.

Usage: pki.py DIR   (idempotent: a complete folder is left alone; prints DIR)
From Python: make_pki(DIR) -> Pki with the paths as attributes.
"""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
from collections import namedtuple

Pki = namedtuple("Pki", "folder ca_pem ca_key ca_der cert key untrusted_ca_pem "
                        "untrusted_cert untrusted_key wronghost_cert wronghost_key")

_COMPLETE = ".complete"


def _run(*args):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} failed:\n{result.stdout.decode(errors='replace')}")


def _make_ca(folder, name, subject):
    key = os.path.join(folder, f"{name}.key")
    pem = os.path.join(folder, f"{name}.pem")
    _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
         "-keyout", key, "-out", pem, "-subj", subject,
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign",
         "-addext", "subjectKeyIdentifier=hash")
    return key, pem


def _make_server(folder, name, ca_key, ca_pem, alt_names):
    key = os.path.join(folder, f"{name}.key")
    csr = os.path.join(folder, f"{name}.csr")
    pem = os.path.join(folder, f"{name}.pem")
    ext = os.path.join(folder, f"{name}.ext")
    with open(ext, "w") as f:
        f.write(f"subjectAltName={alt_names}\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectKeyIdentifier=hash\n"
                "authorityKeyIdentifier=keyid\n")
    common_name = alt_names.split(",")[0].split(":", 1)[1]
    _run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key,
         "-out", csr, "-subj", f"/CN={common_name}")
    # Two years and a bit: under the 825-day ceiling that TLS clients enforce.
    _run("openssl", "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key,
         "-CAcreateserial", "-days", "800", "-sha256", "-extfile", ext, "-out", pem)
    os.unlink(csr)
    os.unlink(ext)


def _paths(folder):
    j = lambda name: os.path.join(folder, name)  # noqa: E731
    return Pki(folder, j("ca.pem"), j("ca.key"), j("ca.der"), j("localhost.pem"),
               j("localhost.key"), j("untrusted-ca.pem"), j("untrusted-localhost.pem"),
               j("untrusted-localhost.key"), j("wronghost.pem"), j("wronghost.key"))


def _complete(folder):
    return os.path.exists(os.path.join(folder, _COMPLETE))


def _generate(folder):
    ca_key, ca_pem = _make_ca(folder, "ca", "/CN=Quolva Test CA")
    _run("openssl", "x509", "-in", ca_pem, "-outform", "DER", "-out",
         os.path.join(folder, "ca.der"))
    _make_server(folder, "localhost", ca_key, ca_pem, "DNS:localhost,IP:127.0.0.1")
    _make_server(folder, "wronghost", ca_key, ca_pem, "DNS:wrong-host.test")
    bad_key, bad_pem = _make_ca(folder, "untrusted-ca", "/CN=Untrusted Test CA")
    _make_server(folder, "untrusted-localhost", bad_key, bad_pem, "DNS:localhost,IP:127.0.0.1")
    open(os.path.join(folder, _COMPLETE), "w").close()


def make_pki(folder):
    """Creates the certificates in `folder` unless a complete set is there already.
    Safe when several test runs ask for the same folder at once."""
    folder = os.path.abspath(folder)
    os.makedirs(os.path.dirname(folder), exist_ok=True)
    if _complete(folder):
        return _paths(folder)
    with open(folder + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _complete(folder):
            # Built aside and moved in whole, so no reader ever sees half a set.
            work = tempfile.mkdtemp(prefix=".pki-", dir=os.path.dirname(folder))
            try:
                _generate(work)
                shutil.rmtree(folder, ignore_errors=True)
                os.rename(work, folder)
            finally:
                shutil.rmtree(work, ignore_errors=True)
    return _paths(folder)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pki.py DIR")
    print(make_pki(sys.argv[1]).folder)
