#!/usr/bin/env python3
"""The command line itself: usage, exit status 64, how the install directory is
normalised and made absolute, and the directories it refuses."""

import os

import e2e_support as s
from e2e_support import header, summary
from test_install_cycle import install_log

REJECTED = s.REJECTED


class CommandLine(s.E2ETestCase):

    def test_help(self):
        r = s.run_cli(["--help"])
        self.assertEqual(r.rc, 0)
        self.assertEqual(r.stderr, b"")
        usage = r.stdout.decode("utf-8")
        for word in ("qorvex-patch", "--payload", "--dry-run", "check", "install", "uninstall"):
            self.assertIn(word, usage)

    def test_usage_errors(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        for args in ([], ["check"], ["repair", inst], ["check", inst, "extra"],
                     ["--payload"], ["--frobnicate", "check", inst]):
            with self.subTest(args=args):
                r = s.run_cli(args)
                self.assertEqual(r.rc, 64)
                self.assertNotIn(b"Game install directory", r.stdout)
        self.assertTree(inst, stock)

    def test_rejected_directories(self):
        cwd = os.path.join(self.tmp, "cwd")
        os.mkdir(cwd)
        no_editor = os.path.join(self.tmp, "empty")
        os.mkdir(no_editor)
        editor_is_file = os.path.join(self.tmp, "file")
        os.mkdir(editor_is_file)
        with open(os.path.join(editor_is_file, "MissionEditor"), "wb") as f:
            f.write(b"not a folder\n")
        holder = os.path.join(self.tmp, "Eagle Dynamics")
        os.mkdir(holder)
        game = self.new_install(name="Eagle Dynamics/DCS World")
        missing = os.path.join(self.tmp, "does-not-exist")
        plain_file = os.path.join(no_editor, "notes.txt")
        with open(plain_file, "wb") as f:
            f.write(b"notes\n")

        def nothing_in(d):
            return "No MissionEditor folder is in %s; choose the game's root folder, the one that holds MissionEditor." % d
        cases = [
            ("", "NoPathProvided", None),
            (" \t\r\n ", "NoPathProvided", None),
            ('""', "NoPathProvided", None),
            (' "" ', "NoPathProvided", None),
            ("/", "NoPathProvided", None),
            ('"\\\\"', "NoPathProvided", None),
            (no_editor, "MissionEditorFolderNotFound", nothing_in(no_editor)),
            (editor_is_file, "MissionEditorFolderNotFound", nothing_in(editor_is_file)),
            (missing, "MissionEditorFolderNotFound", "The folder %s does not exist." % missing),
            (plain_file, "MissionEditorFolderNotFound", "%s is a file, not a folder." % plain_file),
            (game + "/MissionEditor", "MissionEditorFolderNotFound",
             "This is the game's MissionEditor folder; choose the folder that holds it: " + game),
            (holder, "MissionEditorFolderNotFound", "This folder holds a game install; choose that one: " + game),
            # Quotes are taken off after the blanks, so blanks inside them stay.
            ('"  "', "MissionEditorFolderNotFound", "The folder %s/   does not exist." % cwd),
        ]
        pay = ["--payload", self.new_payload()]
        before = s.read_tree(self.tmp)
        for text, reason, hint in cases:
            for action in ("check", "install", "uninstall"):
                with self.subTest(dir=text, action=action):
                    r = s.run_cli(pay + [action, text], cwd=cwd)
                    expected = REJECTED % reason + ("qorvex-patch: %s\n" % hint if hint else "")
                    self.assertRun(r, 64, b"", expected)
        self.assertTree(self.tmp, before)

    def test_directory_is_normalised(self):
        inst = self.new_install()
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]
        for text in (' \t"%s//"\r\n' % inst, '""%s\\""' % inst, "%s/\\/" % inst):
            with self.subTest(dir=text):
                r = s.run_cli(pay + ["check", text])
                self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

    def test_relative_directory_is_made_absolute(self):
        inst = self.new_install(name="games/dcs")
        stock = s.read_tree(inst)
        pay = ["--payload", self.new_payload()]
        r = s.run_cli(pay + ["check", "dcs"], cwd=os.path.join(self.tmp, "games"))
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        r = s.run_cli(pay + ["check", "games/dcs/"], cwd=self.tmp)
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

    def test_directory_with_spaces_and_non_ascii_letters(self):
        inst = self.new_install(name="DCS W\u00f6rld 2.9")
        stock = s.read_tree(inst)
        r = s.run_cli(["--payload", self.new_payload(), "check", inst])
        self.assertRun(r, 0, install_log(inst, "CHECK"))
        self.assertTree(inst, stock)

    def test_uninstall_dry_run_header(self):
        inst = self.new_install()
        r = s.run_cli(["--payload", self.new_payload(), "--dry-run", "uninstall", inst])
        self.assertRun(r, 0, header(inst, "UNINSTALL (dry run)") + summary(True, 0, 8, 0))

    def test_payload_folder_falls_back_to_the_carried_texts(self):
        # Only manifest.json in the folder: the module and the panel block are
        # the ones built into the program (the files of payload/).
        inst = self.new_install()
        stock = s.read_tree(inst)
        with open(os.path.join(s.SOURCE_DIR, "payload", "me_qorvex_undo.lua"), "rb") as f:
            module = f.read()
        with open(os.path.join(s.SOURCE_DIR, "payload", "pQORVEX_block.txt"), "rb") as f:
            block_text = f.read().decode("utf-8")
        manifest = s.full_manifest()
        manifest["files"] = []
        payload = s.write_payload(os.path.join(self.tmp, "payload"), manifest=manifest, module=None, blocks={})
        clock = "2025-01-31 23:59:59"
        r = s.run_cli(["--payload", payload, "install", inst], clock=clock)
        self.assertRun(r, 0, header(inst, "INSTALL") + s.MODULE_CREATE + s.dlg_patch_line(s.DLG)
                       + s.backup_line(s.DLG, s.stamp_of(clock)) + summary(True, 2, 0, 1))
        tree = dict(stock)
        tree[s.disk(s.MODULE)] = module
        tree[s.disk(s.DLG)] = s.patched_dlg(stock[s.disk(s.DLG)], s.FULL_DLG_FILES[0], block_text, "\n")
        tree[s.backup_path(s.DLG, s.stamp_of(clock))] = stock[s.disk(s.DLG)]
        self.assertTree(inst, tree)


if __name__ == "__main__":
    s.main()
