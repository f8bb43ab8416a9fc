#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the project's own texts.

    make_seeds.py OUTDIR

OUTDIR receives one folder per target (manifest_fuzz, lua_balance_fuzz,
anchor_match_fuzz, patch_block_fuzz). The seeds are cut from the synthetic game
install (tests/fixtures/make_game_install.py, LF and CR LF), the patch
manifest, the undo module and the panel block: every anchor with the text
around it, every insertion text, and Lua pieces of at most 4 KiB, so each run
starts from real shapes instead of random bytes. Nothing here is kept in git.
"""

import hashlib
import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEP = b"\xff"
PIECE = 4096


def save(folder, data):
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def pieces(text):
    """Pieces of at most PIECE bytes, cut at line ends."""
    start = 0
    while start < len(text):
        end = min(len(text), start + PIECE)
        if end < len(text):
            cut = text.rfind(b"\n", start, end)
            if cut > start:
                end = cut + 1
        yield text[start:end]
        start = end


def window(text, at, length, radius=700):
    return text[max(0, at - radius):min(len(text), at + length + radius)]


def install_texts(crlf):
    with tempfile.TemporaryDirectory() as tmp:
        args = [sys.executable, os.path.join(ROOT, "tests", "fixtures", "make_game_install.py"),
                tmp, "--no-check"]
        if crlf:
            args.append("--crlf")
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        texts = {}
        for folder, _, names in os.walk(tmp):
            for name in names:
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, tmp).replace(os.sep, "\\")
                with open(path, "rb") as f:
                    texts[rel] = f.read()
        return texts


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    with open(os.path.join(ROOT, "payload", "manifest.json"), "rb") as f:
        manifest_bytes = f.read()
    manifest = json.loads(manifest_bytes)
    with open(os.path.join(ROOT, "payload", "me_qorvex_undo.lua"), "rb") as f:
        module = f.read()
    with open(os.path.join(ROOT, "payload", "pQORVEX_block.txt"), "rb") as f:
        panel = f.read()

    # The manifest, and smaller manifests of one entry each.
    save(os.path.join(out, "manifest_fuzz"), manifest_bytes)
    for entry in manifest["files"]:
        for patch in entry["patches"]:
            small = dict(manifest, files=[dict(entry, patches=[patch])])
            save(os.path.join(out, "manifest_fuzz"), json.dumps(small).encode())
    save(os.path.join(out, "manifest_fuzz"), json.dumps(dict(manifest, files=[])).encode())

    installs = [install_texts(False), install_texts(True)]
    lua_folder = os.path.join(out, "lua_balance_fuzz")
    for text in [module, panel] + [t for install in installs for t in install.values()]:
        for piece in pieces(text):
            save(lua_folder, piece)

    anchor_folder = os.path.join(out, "anchor_match_fuzz")
    block_folder = os.path.join(out, "patch_block_fuzz")
    entries = []
    for entry in manifest["files"]:
        for patch in entry["patches"]:
            body = patch.get("insertTextBefore") or patch.get("insertText") or ""
            entries.append((entry["relativePath"], patch["anchorAfter"], patch["marker"], body))
    for dlg in manifest["dlgFiles"]:
        stem = dlg["insertBlockResource"].rsplit(".", 1)[0]
        entries.append((dlg["relativePath"], dlg["anchorBefore"], "DLG_BLOCK:" + stem,
                        panel[:PIECE].decode()))
    for install in installs:
        for rel, anchor, marker, body in entries:
            text = install.get(rel)
            if text is None:
                continue
            anchor_bytes = anchor.encode()
            first_word = anchor_bytes.split()[0] if anchor_bytes.split() else anchor_bytes
            at = text.find(first_word)
            around = window(text, max(at, 0), len(anchor_bytes))
            save(anchor_folder, around + SEP + anchor_bytes)
            save(anchor_folder, around + SEP + anchor_bytes.replace(b"\t", b"  "))
            save(anchor_folder, body.encode()[:PIECE] + SEP + anchor_bytes)
            where = (len(around) // 2).to_bytes(2, "big")
            save(block_folder, where + marker.encode() + SEP + body.encode() + SEP + around)
    return 0


if __name__ == "__main__":
    sys.exit(main())
