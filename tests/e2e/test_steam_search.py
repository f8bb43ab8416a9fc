#!/usr/bin/env python3
"""qorvex-patch without INSTALL_DIR on Linux: the game is looked for in the
Steam libraries below a fake home folder (Steam's own folder, the old
~/.steam/steam and the Flatpak folder, each with the libraries its
libraryfolders.vdf names), used when there is exactly one install, and refused
with the list when there are none or several."""

import os

import e2e_support as s
from test_install_cycle import install_log

LOCAL = ".local/share/Steam"
OLD = ".steam/steam"
FLATPAK = ".var/app/com.valvesoftware.Steam/.local/share/Steam"

NO_DIR_HINT = "qorvex-patch: name the game's folder, the one that holds MissionEditor, as INSTALL_DIR\n"


def using(game, library):
    return "qorvex-patch: using the game install %s (found in the Steam library %s)\n" % (game, library)


def vdf_path(path):
    return path.replace("\\", "\\\\").replace('"', '\\"')


class SteamSearch(s.E2ETestCase):

    def setUp(self):
        super().setUp()
        self.home = os.path.join(self.tmp, "home")
        os.mkdir(self.home)
        self.pay = ["--payload", self.new_payload()]

    def steam(self, below, libraries=None):
        """A Steam folder below the home folder; with libraries, a
        libraryfolders.vdf of the current shape naming it and them."""
        root = os.path.join(self.home, below)
        os.makedirs(os.path.join(root, "steamapps"), exist_ok=True)
        if libraries is not None:
            blocks = ""
            for n, library in enumerate([root] + libraries):
                blocks += ('\t"%d"\n\t{\n\t\t"path"\t\t"%s"\n\t\t"label"\t\t""\n\t\t"apps"\n\t\t{\n'
                           '\t\t\t"223750"\t\t"54321"\n\t\t}\n\t}\n' % (n, vdf_path(library)))
            with open(os.path.join(root, "steamapps", "libraryfolders.vdf"), "w") as f:
                f.write('"libraryfolders"\n{\n' + blocks + "}\n")
        return root

    def game_in(self, library):
        game = os.path.join(library, "steamapps", "common", "DCSWorld")
        return self.new_install(name=os.path.relpath(game, self.tmp))

    def run_cli(self, args):
        return s.run_cli(args, home=self.home)

    def test_the_game_in_the_default_library_of_each_steam_folder(self):
        for below in (LOCAL, OLD, FLATPAK):
            with self.subTest(steam=below):
                self.home = os.path.join(self.tmp, "home-" + below.replace("/", "_"))
                os.mkdir(self.home)
                root = self.steam(below)
                game = self.game_in(root)
                stock = s.read_tree(game)
                r = self.run_cli(self.pay + ["check"])
                self.assertRun(r, 0, install_log(game, "CHECK"), using(game, root))
                self.assertTree(game, stock)

    def test_the_game_in_a_library_that_steam_lists(self):
        library = os.path.join(self.tmp, "Steam Library \"2\"")
        root = self.steam(LOCAL, [library])
        game = self.game_in(library)
        r = self.run_cli(self.pay + ["check"])
        self.assertRun(r, 0, install_log(game, "CHECK"), using(game, library))

    def test_the_old_shape_of_the_list(self):
        library = os.path.join(self.tmp, "OldLibrary")
        root = self.steam(OLD)
        with open(os.path.join(root, "steamapps", "libraryfolders.vdf"), "w") as f:
            f.write('"LibraryFolders"\n{\n\t"TimeNextStatsReport"\t\t"1565035925"\n'
                    '\t"1"\t\t"%s"\n}\n' % vdf_path(library))
        game = self.game_in(library)
        r = self.run_cli(self.pay + ["check"])
        self.assertRun(r, 0, install_log(game, "CHECK"), using(game, library))

    def test_install_and_status_on_the_found_game(self):
        root = self.steam(FLATPAK, [])
        game = self.game_in(root)
        r = self.run_cli(self.pay + ["install"])
        self.assertEqual(r.rc, 0, r.stderr)
        self.assertEqual(r.stderr.decode(), using(game, root))
        self.assertTrue(os.path.isfile(os.path.join(game, s.disk(s.MODULE))))
        r = self.run_cli(self.pay + ["status"])
        self.assertEqual(r.rc, 0, r.stdout)
        self.assertEqual(r.stderr.decode(), using(game, root))

    def test_a_link_to_the_same_steam_counts_once(self):
        root = self.steam(LOCAL, [])
        game = self.game_in(root)
        os.makedirs(os.path.join(self.home, ".steam"))
        os.symlink(root, os.path.join(self.home, OLD))
        r = self.run_cli(self.pay + ["check"])
        self.assertRun(r, 0, install_log(game, "CHECK"), using(game, root))

    def test_no_steam_at_all(self):
        r = self.run_cli(self.pay + ["install"])
        folders = "".join("  %s\n" % os.path.join(self.home, b) for b in (LOCAL, OLD, FLATPAK))
        self.assertRun(r, 64, b"", "qorvex-patch: no INSTALL_DIR given, and no Steam was found in:\n"
                       + folders + NO_DIR_HINT)

    def test_steam_without_the_game(self):
        library = os.path.join(self.tmp, "SteamLibrary")
        os.makedirs(os.path.join(library, "steamapps", "common", "DCSWorld"))  # no MissionEditor
        root = self.steam(LOCAL, [library, os.path.join(self.tmp, "gone")])
        before = s.read_tree(self.tmp)
        r = self.run_cli(self.pay + ["install"])
        self.assertRun(r, 64, b"", "qorvex-patch: no INSTALL_DIR given, and no game install was found in "
                       "these Steam libraries:\n  %s\n  %s\n  %s\n" % (root, library, os.path.join(self.tmp, "gone"))
                       + NO_DIR_HINT)
        self.assertTree(self.tmp, before)

    def test_several_installs_are_listed_and_none_is_changed(self):
        library = os.path.join(self.tmp, "SteamLibrary")
        root = self.steam(LOCAL, [library])
        first = self.game_in(root)
        second = self.game_in(library)
        third = self.game_in(self.steam(FLATPAK))
        before = s.read_tree(self.tmp)
        for action in ("install", "uninstall", "check", "status"):
            with self.subTest(action=action):
                r = self.run_cli(self.pay + [action])
                self.assertRun(r, 64, b"", "qorvex-patch: no INSTALL_DIR given, and the Steam libraries hold "
                               "several game installs; name one as INSTALL_DIR:\n  %s\n  %s\n  %s\n"
                               % (first, second, third))
        self.assertTree(self.tmp, before)

    def test_a_named_folder_wins_over_steam(self):
        self.game_in(self.steam(LOCAL))
        other = self.new_install(name="elsewhere")
        r = self.run_cli(self.pay + ["check", other])
        self.assertRun(r, 0, install_log(other, "CHECK"))

    def test_without_a_home_folder(self):
        for home in ("", "relative/home"):
            with self.subTest(home=home):
                r = s.run_cli(self.pay + ["check"], home=home)
                self.assertRun(r, 64, b"", "qorvex-patch: no INSTALL_DIR given, and HOME does not name a "
                               "folder to look for Steam in\n")

    def test_no_action_is_still_a_usage_error(self):
        r = self.run_cli(self.pay)
        self.assertEqual(r.rc, 64)
        self.assertEqual(r.stderr, b"qorvex-patch: no ACTION given\nTry 'qorvex-patch --help'.\n")

    def test_the_usage_text_tells_how_install_dir_may_be_left_out(self):
        r = self.run_cli(["--help"])
        self.assertEqual(r.rc, 0)
        usage = r.stdout.decode()
        for words in ("On Linux\nit may be omitted", "~/.local/share/Steam", "~/.steam/steam",
                      "~/.var/app/com.valvesoftware.Steam/.local/share/Steam"):
            self.assertIn(words, usage)


if __name__ == "__main__":
    s.main()
