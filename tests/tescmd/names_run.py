#!/usr/bin/env python3
"""Names in any script, through tescmd (under Wine) and the peers.

    names_run.py BINARY_DIR [CORPUS_DIR]

Archives made by the peers (zip, 7zz, Python's zipfile, GNU tar, gzip,
gcab) with Cyrillic, CJK and accented names must list under those names in
`tescmd l` and extract under them; a ZIP made by `tescmd a` from such files
must list the same names in `unzip -l` and `7zz l`, with plain ASCII names
stored as before (no UTF-8 flag). Names stored in the OEM code page (a ZIP
without the flag, as DOS and Windows tools write them) still come out right.
"""
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "scripts", "wine-run")
NAMES = ["тест.txt", "文件.txt", "Äpfel/käse.txt", "plain.txt"]


def tescmd(binary_dir, cwd, *args):
    program = os.path.join(binary_dir, "dist", "tescmd.exe")
    run = subprocess.run([WINE_RUN, program, *args], cwd=cwd, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, timeout=300)
    return run.returncode, run.stdout.decode("utf-8", "replace")


def listed_files(output):
    """The names of the file entries of `tescmd l`: the last field of each
    entry line, whose first field holds the attributes (0x10: a folder)."""
    names = []
    for line in output.splitlines():
        fields = line.split("\t")
        if len(fields) == 8 and not int(fields[0], 16) & 0x10:
            names.append(fields[7].replace("\\", "/"))
    return sorted(names)


def files_below(folder):
    found = []
    for root, _, files in os.walk(folder):
        for name in files:
            found.append(os.path.relpath(os.path.join(root, name), folder))
    return sorted(found)


def make_sources(folder):
    for name in NAMES:
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write("contents of %s\n" % name)


def peer_archives(work, src):
    """(label, archive path, names it holds) for every peer that is here."""
    made = []
    env = dict(os.environ, LC_ALL="C.UTF-8")

    def run(*command):
        return subprocess.run(command, cwd=src, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0

    if shutil.which("zip") and run("zip", "-q", "-r", os.path.join(work, "infozip.zip"), "."):
        made.append(("zip", "infozip.zip", NAMES))
    if shutil.which("7zz") and run("7zz", "a", "-bd", os.path.join(work, "7z.zip"), *NAMES):
        made.append(("7zz", "7z.zip", NAMES))
    with zipfile.ZipFile(os.path.join(work, "python.zip"), "w") as z:
        for name in NAMES:
            z.write(os.path.join(src, name), name)
    made.append(("zipfile", "python.zip", NAMES))
    # Code page 437 names without the UTF-8 flag, as DOS and Windows tools
    # store them: Python writes a name that fits code page 437 that way.
    with zipfile.ZipFile(os.path.join(work, "oem.zip"), "w") as z:
        z.writestr("Äpfel/käse.txt", "x")
    made.append(("zipfile cp437", "oem.zip", ["Äpfel/käse.txt"]))
    if shutil.which("tar") and run("tar", "-cf", os.path.join(work, "gnu.tar"), *NAMES):
        made.append(("tar", "gnu.tar", NAMES))
    with tarfile.open(os.path.join(work, "pax.tgz"), "w:gz", format=tarfile.PAX_FORMAT) as t:
        for name in NAMES:
            t.add(os.path.join(src, name), name)
    made.append(("tarfile pax", "pax.tgz", NAMES))
    if shutil.which("gzip"):
        shutil.copy(os.path.join(src, "тест.txt"), os.path.join(work, "тест.txt"))
        subprocess.run(["gzip", "-N", os.path.join(work, "тест.txt")], check=True)
        os.rename(os.path.join(work, "тест.txt.gz"), os.path.join(work, "named.gz"))
        made.append(("gzip", "named.gz", ["тест.txt"]))
    if shutil.which("gcab") and run("gcab", "-c", os.path.join(work, "gcab.cab"), *NAMES):
        made.append(("gcab", "gcab.cab", [n.replace("/", "\\") for n in NAMES]))
    return made


def main(binary_dir):
    work = tempfile.mkdtemp(prefix="tescmd_names.")
    failures = []
    try:
        src = os.path.join(work, "src")
        make_sources(src)
        for label, archive, names in peer_archives(work, src):
            code, output = tescmd(binary_dir, work, "l", archive)
            listed = listed_files(output)
            expected = sorted(n.replace("\\", "/") for n in names)
            if listed != expected:
                failures.append("%s: tescmd l gave %r (exit %d), expected %r" % (label, listed, code, expected))
            out = os.path.join(work, "out-" + archive)
            os.makedirs(out)
            code, output = tescmd(binary_dir, out, "x", os.path.join("..", archive))
            if code != 0 or files_below(out) != expected:
                failures.append("%s: tescmd x wrote %r (exit %d)\n%s" % (label, files_below(out)[:20], code,
                                                                          output[-2000:]))

        # Ours, read back by the peers: the names as given; ASCII names
        # without the UTF-8 flag, the others with it.
        code, output = tescmd(binary_dir, src, "a", os.path.join("..", "ours.zip"), *NAMES)
        if code != 0:
            failures.append("tescmd a: exit %d\n%s" % (code, output))
        else:
            ours = os.path.join(work, "ours.zip")
            with zipfile.ZipFile(ours) as z:
                for info in z.infolist():
                    utf8 = bool(info.flag_bits & 0x800)
                    if utf8 != (not info.filename.isascii()):
                        failures.append("ours.zip: %s stored with UTF-8 flag %s" % (info.filename, utf8))
                if sorted(z.namelist()) != sorted(NAMES):
                    failures.append("ours.zip: zipfile reads %r" % z.namelist())
            if shutil.which("unzip"):
                run = subprocess.run(["unzip", "-Z1", ours], stdout=subprocess.PIPE, env=dict(os.environ, LC_ALL="C.UTF-8"))
                if sorted(run.stdout.decode("utf-8", "replace").split("\n")[:-1]) != sorted(NAMES):
                    failures.append("ours.zip: unzip -Z1 reads %r" % run.stdout)
            if shutil.which("7zz"):
                run = subprocess.run(["7zz", "l", "-slt", ours], stdout=subprocess.PIPE)
                paths = [l[7:] for l in run.stdout.decode("utf-8", "replace").splitlines() if l.startswith("Path = ")]
                if sorted(paths[1:]) != sorted(NAMES):
                    failures.append("ours.zip: 7zz l reads %r" % paths)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    print("names: %d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
