#!/usr/bin/env python3
"""scripts/check-layers --files and scripts/check-names on small trees made for the purpose."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w", encoding="utf-8") as f:
        f.write(text)


def run(script, *args):
    result = subprocess.run([sys.executable, os.path.join(SCRIPTS, script), *args],
                            capture_output=True, text=True)
    return result.returncode, result.stdout


class CheckLayersFiles(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name

    def tearDown(self):
        self.dir.cleanup()

    def test_circle_between_units_of_one_folder(self):
        # Headers alone do not circle; A.cpp -> B.h and B.cpp -> A.h do.
        write(self.root, "db/A.h", "#pragma once\n")
        write(self.root, "db/A.cpp", '#include "db/A.h"\n#include "db/B.h"\n')
        write(self.root, "db/B.h", "#pragma once\n")
        write(self.root, "db/B.cpp", '#include "db/B.h"\n')
        write(self.root, "db/C.h", '#include "db/A.h"\n')
        self.assertEqual(run("check-layers", "--files", self.root), (0, ""))
        write(self.root, "db/B.cpp", '#include "db/B.h"\n#include "db/A.h"\n')
        code, out = run("check-layers", "--files", self.root)
        self.assertEqual(code, 1)
        self.assertIn("db/A.cpp:2:", out)
        self.assertIn("db/B.cpp:2:", out)
        self.assertIn("circle db/A <-> db/B", out)
        self.assertNotIn("db/C.h", out)
        # The folder check alone does not look inside folders.
        self.assertEqual(run("check-layers", self.root), (0, ""))

    def test_form_header_belongs_to_its_unit(self):
        write(self.root, "printing/Window.ui", "<ui/>\n")
        write(self.root, "printing/Window.cpp", '#include "ui_Window.h"\n#include "printing/Report.h"\n')
        write(self.root, "printing/Report.cpp", '#include "printing/Window.h"\n')
        code, out = run("check-layers", "--files", self.root)
        self.assertEqual(code, 1)
        self.assertIn("circle printing/Report <-> printing/Window", out)
        self.assertNotIn("ui_Window.h", out)

    def test_grid_control_and_long_files(self):
        write(self.root, "grid/DataGrid.h", "#pragma once\n")
        write(self.root, "export/Writer.cpp", '#include "grid/DataGrid.h"\n')
        write(self.root, "customers/List.cpp", '#include "grid/DataGrid.h"\n')
        write(self.root, "grid/Long.cpp", "\n" * 800)
        write(self.root, "printing/Longer.cpp", "\n" * 801)
        write(self.root, "export/Longest.cpp", "\n" * 2000)
        code, out = run("check-layers", "--files", self.root)
        self.assertEqual(code, 1)
        lines = out.splitlines()
        self.assertEqual(len(lines), 2, out)
        self.assertTrue(lines[0].startswith("export/Writer.cpp:1: includes \"grid/DataGrid.h\""))
        self.assertTrue(lines[1].startswith("printing/Longer.cpp:801: 801 lines"))


class CheckNames(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.root = self.dir.name
        write(self.root, "db/Backup.h", "namespace lianbu::db {\nclass Backup { void copyTo(int to); };\n}\n"
                                         "// oldName survives only here\n/* and formerName here */\n"
                                         'const char *table = "data_sortkeys";\n')
        write(self.root, "customers/EntryPanel.ui", "<ui/>\n")
        write(self.root, "scripts/run", "#!/bin/sh\n")
        write(self.root, "grid/DataGrid.h", "class DataGrid;\n")

    def tearDown(self):
        self.dir.cleanup()

    def check(self, text):
        write(self.root, "README.md", text)
        return run("check-names", self.root)

    def test_names_that_exist_and_words_that_are_no_names(self):
        text = ("`db/Backup`, `db/Backup.h`, `db/`, `customers/EntryPanel.ui`, `EntryPanel.ui`,\n"
                "`Backup::copyTo(to)`, `copyTo`, `lianbu::db::Backup`, `data_sortkeys`,\n"
                "`scripts/run --fast`, `~/.config/x/missing.h`, `/usr/bin/nothing`, `build/x/y`,\n"
                "`data.db`, `userdb.passwd`, `HOME`, `rename`, `QMissingThing`, `sqlite3_nothing`,\n"
                "`select * from data`, `--database <file>`, `<prefix>/share/x`, `.ui`\n"
                "```sh\nscripts/nothing `MissingInFence`\n```\n")
        self.assertEqual(self.check(text), (0, ""))

    def test_missing_names_are_reported_with_their_line(self):
        code, out = self.check("fine `db/Backup`\n`db/Restore` and `grid/DBGridEhLayout.cpp`\n"
                               "`Backup::restore` `oldName` `formerName()` `CheckUpdate`\n"
                               "`lianbu_missing_target` `scripts/missing arg` `Missing.h`\n"
                               "a span over\ntwo lines `scripts/gone\n--flag`\n")
        self.assertEqual(code, 1)
        found = sorted(line.split(": no ")[1] + "@" + line.split(":")[1] for line in out.splitlines())
        self.assertEqual(found, sorted([
            "db/Restore in the tree@2", "grid/DBGridEhLayout.cpp in the tree@2",
            "restore in the tree@3", "oldName in the tree@3", "formerName in the tree@3",
            "CheckUpdate in the tree@3", "lianbu_missing_target in the tree@4",
            "scripts/missing in the tree@4", "Missing.h in the tree@4", "scripts/gone in the tree@6"]))

    def test_documents_under_docs_are_read_and_docs_are_no_source_of_names(self):
        write(self.root, "docs/topic/part.md", "`OnlyInDocs`\n")
        write(self.root, "docs/other.md", "`OnlyInDocs` is named here, and that does not make it exist\n")
        code, out = self.check("nothing\n")
        self.assertEqual(code, 1)
        self.assertIn("docs/other.md:1:", out)
        self.assertIn("docs/topic/part.md:1:", out)


if __name__ == "__main__":
    unittest.main()
