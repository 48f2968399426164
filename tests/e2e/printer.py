"""A printer of the run's own: a private CUPS scheduler whose one queue keeps every job as a file.

The scheduler listens on a socket in its own folder (CUPS_SERVER), so the machine's printers,
if any, are never seen or used. The queue is raw: what the program sends (Qt sends PDF) is
kept byte for byte, to be read back like a saved PDF.
"""

import os
import pwd
import shutil
import subprocess
import tempfile
import time

from x11 import Failure, run, stop_process

BACKEND = """#!/bin/sh
# Lists itself when asked; otherwise keeps the job's data as a file.
[ $# -eq 0 ] && { echo 'direct keep "Unknown" "Keeps jobs as files"'; exit 0; }
if [ -n "$6" ]; then cat "$6"; else cat; fi > "{jobs}/job-$1.prn.part" && mv "{jobs}/job-$1.prn.part" "{jobs}/job-$1.prn"
"""


class FilePrinter:
    QUEUE = "e2e-file-printer"

    def __init__(self):
        # A folder of its own, open to the user the jobs run as (the run's folder is private).
        self.folder = tempfile.mkdtemp(prefix="lianbu-e2e-printer-")
        self.socket = os.path.join(self.folder, "cups.sock")
        self.jobs = os.path.join(self.folder, "jobs")
        self.process = None

    def env(self):
        return dict(os.environ, CUPS_SERVER=self.socket)

    def __enter__(self):
        if not shutil.which("cupsd") or not shutil.which("lpadmin"):
            raise Failure("cupsd or lpadmin is not installed (scripts/setup installs them)")
        f = self.folder
        for sub in ("conf", "spool", "cache", "state", "log", "tmp", "bin/backend", "bin/filter", "jobs"):
            os.makedirs(os.path.join(f, sub), exist_ok=True)
        # cupsd refuses to run jobs as root; as another user it runs them as that user.
        user = "nobody" if os.geteuid() == 0 else pwd.getpwuid(os.geteuid()).pw_name
        entry = pwd.getpwnam(user)
        for sub in ("spool", "tmp", "jobs"):
            os.chown(os.path.join(f, sub), entry.pw_uid, entry.pw_gid)
        os.chmod(f, 0o755)
        with open(os.path.join(f, "conf", "cupsd.conf"), "w") as conf:
            conf.write(f"Listen {self.socket}\nLogLevel info\nWebInterface No\nBrowsing No\n"
                       "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                       "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n")
        group = "nogroup" if user == "nobody" else entry.pw_name
        with open(os.path.join(f, "conf", "cups-files.conf"), "w") as conf:
            conf.write(f"FileDevice No\nServerRoot {f}/conf\nRequestRoot {f}/spool\nCacheDir {f}/cache\n"
                       f"StateDir {f}/state\nTempDir {f}/tmp\nAccessLog {f}/log/access_log\n"
                       f"ErrorLog {f}/log/error_log\nPageLog {f}/log/page_log\nServerBin {f}/bin\n"
                       f"DataDir /usr/share/cups\nPrintcap {f}/printcap\nUser {user}\nGroup {group}\n")
        backend = os.path.join(f, "bin", "backend", "keep")
        with open(backend, "w") as script:
            script.write(BACKEND.replace("{jobs}", self.jobs))
        os.chmod(backend, 0o755)
        for helper in ("daemon", "notifier"):
            if os.path.isdir(f"/usr/lib/cups/{helper}"):
                os.symlink(f"/usr/lib/cups/{helper}", os.path.join(f, "bin", helper))
        self.log = open(os.path.join(f, "cupsd.out"), "wb")
        self.process = subprocess.Popen(["cupsd", "-f", "-c", os.path.join(f, "conf", "cupsd.conf"),
                                         "-s", os.path.join(f, "conf", "cups-files.conf")],
                                        stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.socket):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise Failure(f"the private CUPS scheduler did not start; see {f}/log/error_log")
            time.sleep(0.1)
        # The deprecation warning about raw queues goes to stderr; the queue works.
        run(["lpadmin", "-p", self.QUEUE, "-E", "-v", "keep:/", "-m", "raw"], env=self.env(), timeout=30)
        run(["lpadmin", "-d", self.QUEUE], env=self.env(), timeout=30)
        return self

    def __exit__(self, *exc):
        stop_process(self.process)
        shutil.rmtree(self.folder, ignore_errors=True)
        return False

    def kept_jobs(self):
        return sorted(os.path.join(self.jobs, n) for n in os.listdir(self.jobs) if n.endswith(".prn"))
