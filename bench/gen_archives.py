#!/usr/bin/python3
"""Deterministic patch archives for the benchmark.

"patch": about 300 MB uncompressed in about 1,500 files in nested folders; by bytes about
60 % already-compressed data (jars, images, sounds), 25 % text and JSON, 15 % redundant
binary; deflate level 6. "tiny": about 50 MB in 20,000 small files.
The same arguments always give byte-identical archives (fixed seeds, fixed time stamps).
"""
import argparse
import hashlib
import json
import os
import random
import sys
import zipfile
import zlib

VERSION = 1  # bump when the content recipe changes, so cached archives are rebuilt
STAMP = (2024, 5, 17, 12, 30, 0)

WORDS = ("player inventory quest dragon sword shield potion level score guild castle "
         "forest river mountain village merchant gold silver iron craft recipe skill "
         "attack defense magic spell mana health stamina armor helmet boots ring amulet "
         "enemy boss dungeon chest key door map region server client texture model sound "
         "music effect particle shader render frame config option value true false null "
         "name id type count index weight price rarity common rare epic legendary").split()


def text_blob(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choices(WORDS, k=rng.randint(6, 16)))
        if rng.random() < 0.3:
            line += " = %d" % rng.randint(0, 100000)
        out.append(line)
        n += len(line) + 1
    return ("\n".join(out) + "\n").encode()[:size]


def json_blob(rng, size):
    items = []
    n = 2
    while n < size:
        item = json.dumps({"id": rng.randint(1, 10 ** 6), "name": rng.choice(WORDS) + "_" +
                           rng.choice(WORDS), "type": rng.choice(WORDS),
                           "weight": round(rng.random() * 100, 2), "price": rng.randint(1, 9999),
                           "tags": rng.sample(WORDS, 3), "enabled": rng.random() < 0.5})
        items.append(item)
        n += len(item) + 2
    return ("[" + ",\n".join(items) + "]").encode()[:size]


def redundant_binary(rng, size):
    # Records with a repeating layout and small, slowly changing values: compresses
    # about 3-5 to 1, like tables, meshes and save data.
    record = bytearray(rng.randbytes(64))
    out = bytearray()
    while len(out) < size:
        for _ in range(rng.randint(1, 4)):
            record[rng.randrange(64)] = rng.randrange(256)
        out += record
        out += rng.randrange(1 << 32).to_bytes(4, "little") if rng.random() < 0.2 else b"\0\0\0\0"
    return bytes(out[:size])


def compressed_data(rng, size):
    return rng.randbytes(size)


KINDS = {
    "compressed": (compressed_data, (".jar", ".png", ".ogg", ".jpg", ".pak")),
    "text": (text_blob, (".txt", ".properties", ".lang", ".xml")),
    "json": (json_blob, (".json",)),
    "binary": (redundant_binary, (".bin", ".dat", ".mesh", ".idx")),
}

FOLDERS = ["lib", "assets", "data", "config", "natives", "resourcepacks", "mods", "lang",
           "textures", "models", "sounds", "maps", "ui", "shaders", "scripts", "locale"]


def folder_tree(rng, count, depth):
    folders = []
    for _ in range(count):
        parts = [rng.choice(FOLDERS[:6])]
        for _ in range(rng.randint(0, depth)):
            parts.append(rng.choice(FOLDERS) + str(rng.randint(0, 9)))
        folders.append("/".join(parts))
    return sorted(set(folders))


def sizes_for(rng, count, total, sigma):
    raw = [rng.lognormvariate(0, sigma) for _ in range(count)]
    scale = total / sum(raw)
    return [max(16, int(r * scale)) for r in raw]


def plan(name, quick):
    """(seed, files, total bytes, byte shares, log-normal sigma, folder count, depth)"""
    if name == "patch":
        files, total = (300, 60_000_000) if quick else (1500, 300_000_000)
        return 8001, files, total, {"compressed": 0.60, "text": 0.13, "json": 0.12,
                                    "binary": 0.15}, 1.3, files // 12, 4
    files, total = (4000, 10_000_000) if quick else (20000, 50_000_000)
    return 8002, files, total, {"compressed": 0.30, "text": 0.30, "json": 0.25,
                                "binary": 0.15}, 0.8, files // 40, 3


def build(name, quick, path):
    seed, files, total, shares, sigma, folder_count, depth = plan(name, quick)
    rng = random.Random(seed)
    folders = folder_tree(rng, folder_count, depth)
    entries = []
    for kind, share in shares.items():
        n = max(1, round(files * share))
        for i, size in enumerate(sizes_for(rng, n, total * share, sigma)):
            entries.append((kind, size))
    entries = entries[:files]
    rng.shuffle(entries)
    tmp = path + ".part"
    stats = {"files": 0, "bytes": 0, "largest": 0, "folders": 0}
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as zf:
        written_dirs = set()
        for index, (kind, size) in enumerate(entries):
            folder = folders[rng.randrange(len(folders))]
            parts = folder.split("/")
            for d in range(1, len(parts) + 1):
                dname = "/".join(parts[:d]) + "/"
                if dname not in written_dirs:
                    written_dirs.add(dname)
                    info = zipfile.ZipInfo(dname, STAMP)
                    info.external_attr = 0o40755 << 16 | 0x10
                    zf.writestr(info, b"")
            maker, exts = KINDS[kind]
            fname = "%s/%s_%05d%s" % (folder, rng.choice(WORDS), index, rng.choice(exts))
            info = zipfile.ZipInfo(fname, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            data = maker(rng, size)
            zf.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=6)
            stats["files"] += 1
            stats["bytes"] += len(data)
            stats["largest"] = max(stats["largest"], len(data))
        stats["folders"] = len(written_dirs)
    os.replace(tmp, path)
    stats["archive_bytes"] = os.path.getsize(path)
    return stats


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("out", help="folder for patch.zip, tiny.zip and archives.json")
    ap.add_argument("--quick", action="store_true", help="smaller archives for development")
    ap.add_argument("--only", choices=("patch", "tiny"))
    args = ap.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    meta_path = os.path.join(args.out, "archives.json")
    meta = {}
    if os.path.exists(meta_path):
        with open(meta_path) as f:
            meta = json.load(f)
    for name in ("patch", "tiny"):
        if args.only and name != args.only:
            continue
        key = "%s:v%d:%s" % (name, VERSION, "quick" if args.quick else "full")
        path = os.path.join(args.out, name + ".zip")
        old = meta.get(name)
        if old and old.get("key") == key and os.path.exists(path) and \
                os.path.getsize(path) == old["archive_bytes"]:
            continue
        stats = build(name, args.quick, path)
        with open(path, "rb") as f:
            stats["sha256"] = hashlib.sha256(f.read()).hexdigest()
        stats["key"] = key
        meta[name] = stats
        print("gen: %s.zip %d files, %.1f MB -> %.1f MB, largest %.1f MB" % (
            name, stats["files"], stats["bytes"] / 1e6, stats["archive_bytes"] / 1e6,
            stats["largest"] / 1e6), file=sys.stderr)
        with open(meta_path + ".part", "w") as f:
            json.dump(meta, f, indent=1)
        os.replace(meta_path + ".part", meta_path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
