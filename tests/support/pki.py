"""Test certificates: a CA the test prefixes trust, a `localhost` server certificate
signed by it, and an untrusted CA with its own `localhost` certificate.

Usage: pki.py DIR   (idempotent; writes ca.pem, ca.der, localhost.pem, localhost.key,
untrusted-ca.pem, untrusted-localhost.pem, untrusted-localhost.key)
"""
import os
import subprocess
import sys


def _run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _make_ca(folder, name, subject):
    key = os.path.join(folder, f"{name}.key")
    pem = os.path.join(folder, f"{name}.pem")
    _run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
         "-keyout", key, "-out", pem, "-subj", subject,
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, pem


def _make_server(folder, name, ca_key, ca_pem):
    key = os.path.join(folder, f"{name}.key")
    csr = os.path.join(folder, f"{name}.csr")
    pem = os.path.join(folder, f"{name}.pem")
    ext = os.path.join(folder, f"{name}.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    _run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key,
         "-out", csr, "-subj", "/CN=localhost")
    _run("openssl", "x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key,
         "-CAcreateserial", "-days", "825", "-sha256", "-extfile", ext, "-out", pem)
    return key, pem


def make_pki(folder):
    os.makedirs(folder, exist_ok=True)
    done = os.path.join(folder, "untrusted-localhost.pem")
    if os.path.exists(done):
        return folder
    ca_key, ca_pem = _make_ca(folder, "ca", "/CN=Quolva Test CA")
    _run("openssl", "x509", "-in", ca_pem, "-outform", "DER", "-out", os.path.join(folder, "ca.der"))
    _make_server(folder, "localhost", ca_key, ca_pem)
    bad_key, bad_pem = _make_ca(folder, "untrusted-ca", "/CN=Untrusted Test CA")
    _make_server(folder, "untrusted-localhost", bad_key, bad_pem)
    return folder


if __name__ == "__main__":
    make_pki(sys.argv[1])
