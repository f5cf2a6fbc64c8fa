#!/usr/bin/python3
"""Writes the seed corpora under corpus/<target>/ next to this script.

Archives come from Info-ZIP `zip` (a folder tree, a ZIP64 one, one written to a pipe so
its entries carry data descriptors) and Python's zipfile (stored, deflated, folders,
ZIP64, awkward names). Every seed is a few hundred bytes to a few KB; the output is the
same on every run. Run with /usr/bin/python3.
"""

import io
import os
import shutil
import subprocess
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
DATE_TIME = (2024, 5, 17, 10, 30, 44)
FIXED_EPOCH = 1715941844


def content(name):
    return ("content of " + name + "\n").encode("utf-8") * 6


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))


def python_zip(entries, compression=zipfile.ZIP_DEFLATED, zip64=False):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression) as z:
        for name in entries:
            info = zipfile.ZipInfo(name, DATE_TIME)
            info.compress_type = compression
            if name.endswith("/"):
                info.external_attr = 0o40755 << 16 | 0x10
                z.writestr(info, b"")
            elif zip64:
                with z.open(info, "w", force_zip64=True) as f:
                    f.write(content(name))
            else:
                z.writestr(info, content(name))
    return buffer.getvalue()


def info_zip(args, files, to_pipe=False):
    with tempfile.TemporaryDirectory() as work:
        for name in files:
            path = os.path.join(work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content(name))
        for folder, dirs, names in os.walk(work):
            for n in dirs + names:
                os.utime(os.path.join(folder, n), (FIXED_EPOCH, FIXED_EPOCH))
        env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8")
        if to_pipe:
            # Written to a pipe: zip cannot seek back, so sizes follow in descriptors.
            return subprocess.run(["zip", "-X", "-q", "-"] + args, cwd=work, env=env,
                                  stdout=subprocess.PIPE, check=True).stdout
        out = os.path.join(work, "out.zip")
        subprocess.run(["zip", "-X", "-q", out] + args, cwd=work, env=env, check=True)
        with open(out, "rb") as f:
            return f.read()


def zips():
    tree = ["pmzlib/a/b.jar", "pmzlib/readme.txt", "top.txt"]
    write("zip_reader", "infozip_tree.zip", info_zip(["-r", "-n", ".jar", "pmzlib", "top.txt"], tree))
    write("zip_reader", "infozip_zip64.zip", info_zip(["-fz", "docs/a.txt"], ["docs/a.txt"]))
    write("zip_reader", "infozip_piped.zip",
          info_zip(["piped/one.txt", "piped/two.txt"], ["piped/one.txt", "piped/two.txt"],
                   to_pipe=True))
    write("zip_reader", "python_stored.zip",
          python_zip(["s/one.txt", "s/two.txt"], zipfile.ZIP_STORED))
    write("zip_reader", "python_deflated.zip", python_zip(["d/one.txt", "d/two.txt"]))
    write("zip_reader", "python_folders.zip", python_zip(["f/", "f/g/", "f/g/h.txt"]))
    write("zip_reader", "python_zip64.zip", python_zip(["z/big.txt"], zip64=True))
    # ZIP64 end record, locator and central extra fields, assembled by hand for the
    # archive tests.
    with open(os.path.join(HERE, "..", "fixtures", "zip", "zip64_records.zip"), "rb") as f:
        write("zip_reader", "zip64_records.zip", f.read())
    write("zip_reader", "python_names.zip",
          python_zip(["back\\slash.txt", "dir\\", "../up.txt", "Lời chào.txt", "a/./b.txt"]))


def texts():
    manifest = {
        "three_games.txt": "kova;12\nbelu;3\nstoneharbor;7\n",
        "bom_crlf.txt": "\ufeffkova;5\r\nbelu;2\r\n",
        "quoted.txt": "\"KOVA\" ; '7'\n",
        "skipped_lines.txt": "#kova;1\nkova;abc\nnosemicolon\n\nkova;9\nkova;10",
        "ranges.txt": "kova;2147483648\nbelu;-3\nstoneharbor;+12abc\nkova;12;7\n",
    }
    record = {
        "crlf.txt": "12\r\n",
        "spaces_letters.txt": "  42abc",
        "negative.txt": "-7",
        "out_of_range.txt": "2147483648",
        "nul_inside.txt": "5\x007",
        "too_long.txt": "1" * 257,
    }
    timestamp = {
        "plain.txt": "1733840000000",
        "crlf.txt": "1733840000000\r\n",
        "plus.txt": "+1733840000000",
        "twenty_nines.txt": "9" * 20,
        "largest.txt": "9223372036854775807",
        "lf_first.txt": "\n1733840000000",
    }
    apply_update = {
        "updater_form.txt": "__apply-update \"C:\\Temp\\Quolva_game.new.exe\" \"C:\\Quolva\\game.exe\" 812",
        "blanks_in_paths.txt": "\"__apply-update\" \"C:\\Users\\Anh Tu\\n.exe\" \"D:\\Kova Online\\game.exe\" 4",
        "tabs_quote_inside.txt": "\t__apply-update  C:\\\"Program Files\"\\n.exe\t\"b\" 4294967295 ",
        "empty_quoted_id.txt": "__apply-update \"a\" \"b\" \"\"",
    }
    names = {
        "nested.txt": "pmzlib/a/b.jar",
        "folder.txt": "pmzlib/",
        "backslashes.txt": "pmzlib\\a\\b.jar",
        "climbs.txt": "a/../../evil.txt",
        "dots_blanks.txt": "a/. ./b",
        "drive.txt": "C:\\Windows\\x",
        "leading.txt": "\\abs\\x",
        "utf8.txt": "Lời chào/tệp.txt",
    }
    for target, table in (("manifest", manifest), ("version_record", record),
                          ("timestamp", timestamp), ("entry_path", names)):
        for name, text in table.items():
            write(target, name, text)
    for name, text in apply_update.items():
        write("apply_update", name, text.encode("utf-16-le"))


def main():
    shutil.rmtree(CORPUS, ignore_errors=True)
    zips()
    texts()


if __name__ == "__main__":
    main()
