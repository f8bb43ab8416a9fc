#!/usr/bin/env python3
"""INSTALL and UNINSTALL of the built-in payload on synthetic game installs.

For a game install with LF line ends and one with CR LF line ends:
  - INSTALL exits 0 with "COMPLETED SUCCESSFULLY", deploys the undo module
    byte for byte, inserts every entry of the manifest as its patch block
    right after its anchor, and the panel block right before the pMap entry;
  - every patched Lua file and the patched dialog file compile under luac5.1;
  - a second INSTALL changes nothing;
  - UNINSTALL exits 0 and leaves every game file as it was before INSTALL,
    byte for byte, with the module file gone (backups stay beside them).
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

BACKUP_MARK = '.qorvex-backup_'
MODULE_PATH = os.path.join('MissionEditor', 'modules', 'me_qorvex_undo.lua')

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def native(relative_path):
    return os.path.join(*relative_path.split('\\'))


def begin_line(marker):
    return '-- QORVEX_PATCH_BEGIN[' + marker + ']'


def end_line(marker):
    return '-- QORVEX_PATCH_END[' + marker + ']'


def patch_block(marker, text):
    body = text.replace('\r\n', '\n').replace('\n', '\r\n')
    if body and not body.endswith('\r\n'):
        body += '\r\n'
    return ('\r\n' + begin_line(marker) + '\r\n' + body + end_line(marker) + '\r\n').encode('utf-8')


def entry_text(entry):
    if entry.get('insertTextBefore'):
        return entry['insertTextBefore']
    return entry.get('insertText') or ''


def snapshot(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            if BACKUP_MARK in name:
                continue
            path = os.path.join(folder, name)
            with open(path, 'rb') as f:
                files[os.path.relpath(path, root)] = f.read()
    return files


def run_cli(cli, action, root):
    result = subprocess.run([cli, action, root], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result.returncode, result.stdout.decode('utf-8', 'replace'), result.stderr.decode('utf-8', 'replace')


def luac_ok(luac, path):
    result = subprocess.run([luac, '-p', path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return result.returncode == 0, result.stdout.decode('utf-8', 'replace')


def round_trip(args, manifest, module_text, panel_block, crlf):
    variant = 'CRLF' if crlf else 'LF'
    with tempfile.TemporaryDirectory(prefix='qorvex-install-') as root:
        command = [sys.executable, args.make_game_install, root] + (['--crlf'] if crlf else [])
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        before = snapshot(root)
        check(MODULE_PATH not in before, variant + ': the fresh install already has the module')

        code, out, err = run_cli(args.cli, 'install', root)
        check(code == 0, '%s: install exit %d\n%s%s' % (variant, code, out, err))
        check('COMPLETED SUCCESSFULLY' in out, variant + ': install did not complete successfully:\n' + out)
        check('  8 files patched.\n' in out, variant + ': install did not patch 8 files:\n' + out)

        with open(os.path.join(root, MODULE_PATH), 'rb') as f:
            check(f.read() == module_text, variant + ': the deployed module differs from the payload')
        ok, message = luac_ok(args.luac, os.path.join(root, MODULE_PATH))
        check(ok, variant + ': the module does not compile: ' + message)

        inserted = 0
        for file_entry in manifest['files']:
            path = os.path.join(root, native(file_entry['relativePath']))
            with open(path, 'rb') as f:
                text = f.read()
            for entry in file_entry['patches']:
                block = patch_block(entry['marker'], entry_text(entry))
                if check(text.count(block) == 1, '%s: %s: block of %s not found exactly once'
                         % (variant, file_entry['relativePath'], entry['id'])):
                    inserted += 1
            ok, message = luac_ok(args.luac, path)
            check(ok, '%s: %s does not compile after install: %s' % (variant, file_entry['relativePath'], message))
        check(inserted == 21, '%s: %d of 21 insertions found' % (variant, inserted))

        for dlg in manifest['dlgFiles']:
            path = os.path.join(root, native(dlg['relativePath']))
            with open(path, 'rb') as f:
                text = f.read()
            stem = os.path.splitext(dlg['insertBlockResource'])[0]
            block = patch_block('DLG_BLOCK:' + stem, panel_block)
            pmap_line = b'\t\t["pMap"] = {'
            check(text.count(block + pmap_line) == 1,
                  '%s: %s: panel block not found right before the pMap entry' % (variant, dlg['relativePath']))
            ok, message = luac_ok(args.luac, path)
            check(ok, '%s: %s does not compile after install: %s' % (variant, dlg['relativePath'], message))

        installed = snapshot(root)
        code, out, err = run_cli(args.cli, 'install', root)
        check(code == 0 and 'COMPLETED SUCCESSFULLY' in out and '  0 files patched.\n' in out,
              '%s: second install was not a no-op:\n%s%s' % (variant, out, err))
        check(snapshot(root) == installed, variant + ': second install changed files')

        code, out, err = run_cli(args.cli, 'uninstall', root)
        check(code == 0 and 'COMPLETED SUCCESSFULLY' in out, '%s: uninstall exit %d\n%s%s' % (variant, code, out, err))
        after = snapshot(root)
        check(sorted(after) == sorted(before), '%s: files after uninstall differ: %s'
              % (variant, sorted(set(after) ^ set(before))))
        for name, data in before.items():
            check(after.get(name) == data, '%s: %s not restored byte for byte' % (variant, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--cli', required=True)
    parser.add_argument('--make-game-install', required=True)
    parser.add_argument('--luac', required=True)
    parser.add_argument('--payload-dir', required=True)
    args = parser.parse_args()
    with open(os.path.join(args.payload_dir, 'manifest.json'), encoding='utf-8') as f:
        manifest = json.load(f)
    with open(os.path.join(args.payload_dir, 'me_qorvex_undo.lua'), 'rb') as f:
        module_text = f.read()
    with open(os.path.join(args.payload_dir, 'pQORVEX_block.txt'), encoding='ascii', newline='') as f:
        panel_block = f.read()
    for crlf in (False, True):
        round_trip(args, manifest, module_text, panel_block, crlf)
    for failure in failures:
        print('FAIL: ' + failure)
    if failures:
        return 1
    print('install round trip: LF and CRLF installs patched, compiled and restored')
    return 0


if __name__ == '__main__':
    sys.exit(main())
