#!/usr/bin/env python3
"""Proves that two builds of corvane-cli give byte-identical output.

    scripts/compare-output.py BASE_CLI NEW_CLI [--keep DIR] [--jobs N]

Meant for changes that must not change behaviour (a redesign, a split of a
unit): build corvane-cli before and after, then compare the two. Exit code 0
when every case agrees, 1 when one differs (the first differences are
printed), 2 for bad usage.

What is compared, per case: the exit code, standard output, standard error
and, for script programs, every file the run leaves behind (the images of
used units compiled from source, byte by byte).

 - Script programs (scripts/compare-output/*.txt; each "#### DIR/FILE"
   header starts one source file of the program in directory DIR):
   * the linked program's listing (--dump). A program is not run unless its
     header says "run": the listing is printed before the parameters are
     checked, so an unknown --arg stops the CLI right after it;
   * the whole image of the program's first file, compiled as a unit: a
     small wrapper program "uses" it, which saves the unit image;
   * programs marked "run" are run with their main=NAME and arg=K=V.
   test-programs.txt holds every source the test suite compiled, and
   programs.txt hand-written ones (every statement kind, units, faults).
 - The script programs of the manual (docs/readme.html, <pre> blocks that
   start with "interface"), listed and run with their first function.
 - Every statement of tests/evaluation/sql/*.test, as written (the bare
   table names name no directory for the CLI) and with its bare table
   names t, u, v, e, m, dt, f replaced by directories of a fixture that
   mirrors the test tables (so that rows come out).
 - The SELECT examples of the manual, their quoted directories replaced by
   fixture directories (the first distinct one by t, the next by u, ...).

Both CLIs read the same fixture, created once; its entries carry fixed
modification times and an access time an hour ahead (later than every
change time, so that a relatime mount never updates it while the two runs
read it).
"""
import argparse
import concurrent.futures
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "scripts", "compare-output")
SQL_DIR = os.path.join(ROOT, "tests", "evaluation", "sql")
MANUAL = os.path.join(ROOT, "docs", "readme.html")
TIMEOUT = 20  # seconds per CLI run
NO_RUN_ARG = "__compare_output_no_such_parameter=0"


# ---------------------------------------------------------------------------
# Cases


class Program:
    def __init__(self, name):
        self.name = name
        self.files = []  # (file name, text); the first is the main script
        self.main = None
        self.args = []
        self.run = False


def read_programs(path):
    programs = {}
    current = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#### "):
                words = line[5:].split()
                directory, file_name = words[0].split("/", 1)
                prog = programs.setdefault(directory, Program(directory))
                for w in words[1:]:
                    if w.startswith("main="):
                        prog.main = w[5:]
                    elif w.startswith("arg="):
                        prog.args.append(w[4:])
                    elif w == "run":
                        prog.run = True
                current = [file_name, ""]
                prog.files.append(current)
            elif current is not None:
                current[1] += line
    return list(programs.values())


def first_function(text):
    m = re.search(r"^\s*(?:function|procedure)\s+([A-Za-z_][A-Za-z0-9_]*)", text, re.M | re.I)
    return m.group(1) if m else "initialization"


def manual_blocks():
    with open(MANUAL, encoding="utf-8") as f:
        page = f.read()
    return [html.unescape(b) for b in re.findall(r"<pre>(.*?)</pre>", page, re.S)]


def manual_programs():
    out = []
    for i, block in enumerate(manual_blocks()):
        if block.lstrip().lower().startswith("interface"):
            p = Program("manual%d" % i)
            p.files.append(["prog.pas", block + "\n"])
            p.run = True
            out.append(p)
    return out


def manual_statements():
    stmts = []
    for block in manual_blocks():
        current = []
        for line in block.split("\n") + [""]:
            if line.strip().startswith("--") or not line.strip():
                if current and current[0].lstrip().lower().startswith("select"):
                    stmts.append("\n".join(current))
                current = []
            else:
                current.append(line)
    return stmts


def sql_case_statements():
    stmts = []
    for name in sorted(os.listdir(SQL_DIR)):
        if not name.endswith(".test"):
            continue
        sql, in_expected = [], False
        with open(os.path.join(SQL_DIR, name), encoding="utf-8") as f:
            for line in f.read().split("\n"):
                if line == "====":
                    if sql:
                        stmts.append("\n".join(sql))
                    sql, in_expected = [], False
                elif in_expected:
                    continue
                elif line == "----":
                    in_expected = True
                elif not sql and (not line or line.startswith("#")):
                    continue
                else:
                    sql.append(line)
        if sql:
            stmts.append("\n".join(sql))
    return stmts


FIXTURE_TABLES = ("t", "u", "v", "e", "m", "dt", "f")


def with_fixture_tables(sql, fixture):
    """Replaces the bare table names of the first FROM list by fixture paths."""
    m = re.search(r"\bfrom\b", sql, re.I)
    if not m:
        return sql
    head, rest = sql[: m.end()], sql[m.end():]
    end = re.search(r"\b(?:where|order|group|having|limit)\b|\)", rest, re.I)
    items, tail = (rest[: end.start()], rest[end.start():]) if end else (rest, "")
    out = []
    for it in items.split(","):
        t = re.fullmatch(r"(\s*)([a-z]+)((?:\s+(?:as\s+)?[a-z]\w*)?)(\s*)", it, re.I)
        if t and t.group(2) in FIXTURE_TABLES:
            alias = t.group(3) if t.group(3).strip() else " " + t.group(2)
            it = "%s'%s/%s'%s%s" % (t.group(1), fixture, t.group(2), alias, t.group(4))
        out.append(it)
    return head + ",".join(out) + tail


def with_fixture_dirs(sql, fixture):
    mapping = {}

    def table(m):
        path, options = m.group(2), m.group(3) or ""
        last = path.rstrip("/").rsplit("/", 1)[-1]
        directory, filt = (path.rsplit("/", 1)[0], "/" + last) if re.search(r"[*?.]", last) else (path, "")
        if directory not in mapping:
            mapping[directory] = FIXTURE_TABLES[len(mapping) % 3]
        return "%s%s/%s%s%s%s" % (m.group(1), fixture, mapping[directory], filt, options, m.group(1))

    return re.sub(r"""(['"])(/[^'" ]*)((?: /[^'"]*)?)\1""", table, sql)


# ---------------------------------------------------------------------------
# The fixture


def make_fixture(root):
    mtime = time.mktime((2024, 3, 1, 12, 0, 0, 0, 0, -1))
    atime = int(time.time()) + 3600
    tables = {
        "t": [("a.txt", 10), ("b.log", 200), ("c", None), ("d.txt", 50), ("E.TXT", 50)],
        "u": [("a.txt", 1), ("x", 2), ("d.txt", 3)],
        "v": [("a.txt", 7), ("d.txt", 8), ("y", 9)],
        "e": [],
        "m": [(n, i) for i, n in enumerate(["empty", "int5", "text5", "abc", "dbl5", "null", "true"])],
        "dt": [("new", 1), ("old", 2)],
        "f": [("a.txt", 10), ("b.txt", 30), ("c.log", 200), ("d.log", 5), ("e", None), ("F.TXT", 7)],
    }
    times = {"new": time.mktime((2024, 1, 2, 8, 0, 0, 0, 0, -1)),
             "old": time.mktime((2023, 6, 30, 8, 0, 0, 0, 0, -1))}
    for table, entries in tables.items():
        d = os.path.join(root, table)
        os.makedirs(d)
        for name, size in entries:
            p = os.path.join(d, name)
            if size is None:
                os.makedirs(p)
            else:
                with open(p, "wb") as f:
                    f.write(b"x" * size)
            os.utime(p, (atime, times.get(name, mtime)))
        os.utime(d, (atime, mtime))
    os.utime(root, (atime, mtime))


# ---------------------------------------------------------------------------
# Running


def run(cmd, cwd):
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, timeout=TIMEOUT)
        return "rc %d\n--- stdout\n%s--- stderr\n%s" % (
            p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace"))
    except subprocess.TimeoutExpired:
        return "timeout after %ds\n" % TIMEOUT


def program_case(cli, prog, work):
    d = os.path.join(work, prog.name)
    os.makedirs(d)
    for name, text in prog.files:
        with open(os.path.join(d, name), "w", encoding="utf-8") as f:
            f.write(text)
    main_file = prog.files[0][0]
    main = prog.main or first_function(prog.files[0][1])
    cmd = [cli, "--script", main_file, "--main", main, "--dump"]
    cmd += [a for arg in prog.args for a in ("--arg", arg)]
    if not prog.run:
        cmd += ["--arg", NO_RUN_ARG]
    out = "$ %s\n%s" % (" ".join(cmd[1:]), run(cmd, d))
    # The main file as a unit: its whole image is saved beside it.
    unit = os.path.splitext(main_file)[0]
    wrapper = ("interface\nuses %s;\nfunction compareoutputwrapper: integer;\nimplementation\n"
               "function compareoutputwrapper: integer;\nbegin\n  result := 0;\nend;\nend.\n" % main_file)
    with open(os.path.join(d, "compareoutputwrapper.pas"), "w") as f:
        f.write(wrapper)
    cmd = [cli, "--script", "compareoutputwrapper.pas", "--main", "compareoutputwrapper",
           "--arg", NO_RUN_ARG]
    out += "$ unit %s\n%s" % (unit, run(cmd, d))
    for name in sorted(os.listdir(d)):
        if name in dict(prog.files) or name == "compareoutputwrapper.pas":
            continue
        with open(os.path.join(d, name), "rb") as f:
            out += "--- file %s\n%s\n" % (name, f.read().hex())
    return out


def sql_case(cli, sql, fixture):
    return "$ %s\n%s" % (sql, run([cli, sql], fixture))


def run_all(cli, label, cases, work, fixture, jobs):
    base = os.path.join(work, label)
    os.makedirs(base)

    def one(case):
        kind, payload = case
        if kind == "program":
            return program_case(cli, payload, base)
        return sql_case(cli, payload, fixture)

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        return list(pool.map(one, cases))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("base")
    ap.add_argument("new")
    ap.add_argument("--keep", help="write both outputs into this directory")
    ap.add_argument("--jobs", type=int, default=2)
    a = ap.parse_args()
    for cli in (a.base, a.new):
        if not os.access(cli, os.X_OK):
            print("compare-output: not an executable: %s" % cli, file=sys.stderr)
            return 2
    base_cli, new_cli = os.path.abspath(a.base), os.path.abspath(a.new)

    work = tempfile.mkdtemp(prefix="compare-output.")
    try:
        fixture = os.path.join(work, "fixture")
        make_fixture(fixture)
        programs = []
        for name in sorted(os.listdir(CORPUS)):
            if name.endswith(".txt"):
                programs += read_programs(os.path.join(CORPUS, name))
        programs += manual_programs()
        sql = sql_case_statements()
        cases = [("program", p) for p in programs]
        cases += [("sql", s) for s in sql]
        cases += [("sql", with_fixture_tables(s, fixture)) for s in sql]
        cases += [("sql", with_fixture_dirs(s, fixture)) for s in manual_statements()]

        results = {}
        for label, cli in (("base", base_cli), ("new", new_cli)):
            results[label] = run_all(cli, label, cases, work, fixture, a.jobs)
        if a.keep:
            os.makedirs(a.keep, exist_ok=True)
            for label in results:
                with open(os.path.join(a.keep, label + ".txt"), "w", encoding="utf-8") as f:
                    f.write("\n".join("#### case %d\n%s" % (i, r) for i, r in enumerate(results[label])))

        differ = [i for i in range(len(cases)) if results["base"][i] != results["new"][i]]
        counts = (sum(1 for c in cases if c[0] == "program"), sum(1 for c in cases if c[0] == "sql"))
        print("compare-output: %d script programs, %d SQL statements" % counts)
        for i in differ[:5]:
            print("--- case %d differs\n### base\n%s### new\n%s" % (i, results["base"][i], results["new"][i]))
        if differ:
            print("compare-output: %d of %d cases differ" % (len(differ), len(cases)))
            return 1
        print("compare-output: all %d cases byte-identical" % len(cases))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
