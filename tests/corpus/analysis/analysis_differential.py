"""Differential test of project analysis against reference.py.

Usage: analysis_differential.py DUMP PYTHON [--jobs N] [--show N] [--only TEXT]
                                [--runs fixtures,plain,decorated,rewritten]

DUMP is tolva-dump (mode analyse), PYTHON a pyenv interpreter. Four runs,
each comparing every field of every record of every file, DUMP's output
against reference.py's under PYTHON:

  plain      PYTHON's standard library (site-packages excluded) as it is,
             the library folder as the project root: functions only, since
             nothing imports the decorators;
  decorated  the same files through decorate.py, written to a temporary
             folder that mirrors their paths: every class a feature class,
             every def a resolver;
  rewritten  the decorated files once more, each in one form, in turn: CR LF
             line breaks, lone CRs, a byte order mark and CR LF, or tabs for
             the indentation;
  fixtures   the files of fixtures/, copied below a temporary root, each
             also under a folder whose name has a space, one with a
             non-ASCII name and brackets, one with "%", "?", "#" and braces,
             and given once more by a relative
             path (the working directory is the root); then paths with ".",
             ".." and doubled slashes, files that cannot be read, and
             generated files (from a fixed seed): class bodies that mix
             fields, comments, blank lines, blocks and methods at random, and
             defs with random parameter lists, headers, decorator calls with
             dict displays, and bodies.

Files the interpreter rejects are skipped (differences.SKIPPED). The first
--show differences are printed with file, record and field, then a count by
field. Exit status 0 when all agree, 1 otherwise, 77 (skip) when PYTHON is
missing.
"""

import argparse
import collections
import concurrent.futures
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REFERENCE = os.path.join(HERE, "reference.py")
DECORATE = os.path.join(HERE, "decorate.py")
FIXTURES = os.path.join(HERE, "fixtures")
SKIP = 77
sys.path.insert(0, os.path.dirname(HERE))
import oracles  # noqa: E402
BATCH = 40

# Folders the fixtures are also copied into, below the temporary root.
FIXTURE_FOLDERS = ["with space", "caf\u00e9 [x]", "odd %41?#{}"]


def library_files(libdir):
    out = []
    for folder, dirs, files in os.walk(libdir):
        dirs[:] = sorted(d for d in dirs if d != "site-packages" and d != "__pycache__")
        out.extend(os.path.join(folder, f) for f in sorted(files) if f.endswith(".py"))
    return out


def json_lines(text, count, what):
    lines = [json.loads(line) for line in text.splitlines() if line.strip()]
    if len(lines) != count:
        raise RuntimeError(f"{what}: {len(lines)} lines for {count} files")
    return lines


def has_analyse_mode(dump):
    """Whether DUMP knows the mode at all (it answers one line for one file,
    even a missing one); an older build prints its usage instead."""
    completed = subprocess.run([dump, "analyse", "/", "/nonexistent/probe.py"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    return completed.returncode == 0 and completed.stdout.strip().startswith(b"{")


def run_dump(dump, root, files, cwd):
    completed = subprocess.run([dump, "analyse", root, *files], cwd=cwd, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    if completed.returncode != 0:
        raise RuntimeError(f"tolva-dump analyse exited with {completed.returncode}: "
                           f"{completed.stderr.decode('utf-8', 'replace')[-2000:]}")
    return json_lines(completed.stdout.decode("utf-8"), len(files), "tolva-dump analyse")


def run_reference(python, root, files, cwd):
    completed = subprocess.run([python, "-W", "ignore", REFERENCE, "analyse", root, "-"], cwd=cwd,
                               input=json.dumps(files).encode("utf-8"), stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    if completed.returncode != 0:
        raise RuntimeError(f"reference.py exited with {completed.returncode}: "
                           f"{completed.stderr.decode('utf-8', 'replace')[-2000:]}")
    return json_lines(completed.stdout.decode("utf-8"), len(files), "reference.py")


# ---------------------------------------------------------------------------
# Comparison.

class Difference:
    def __init__(self, path, record, field, ours, theirs):
        self.path, self.record, self.field, self.ours, self.theirs = path, record, field, ours, theirs

    def kind(self):
        """The field without indices and keys, for the summary."""
        out = []
        for part in self.field.split("."):
            out.append(part.split("[")[0])
        return ".".join(out)


def record_label(kind, index, record):
    name = record.get("resolver_name") or record.get("class_name") or "?"
    location = record.get("resolver_name_location") or record.get("class_name_location")
    line = f"@{location[0] + 1}" if location else ""
    return f"{kind}[{index}] {name}{line}"


def compare_values(ours, theirs, field, out):
    if isinstance(theirs, dict) and isinstance(ours, dict):
        for key in theirs:
            if key not in ours:
                out.append((f"{field}[{key!r}]", "(missing)", theirs[key]))
            else:
                compare_values(ours[key], theirs[key], f"{field}[{key!r}]", out)
        for key in ours:
            if key not in theirs:
                out.append((f"{field}[{key!r}]", ours[key], "(missing)"))
        return
    if isinstance(theirs, list) and isinstance(ours, list) and not is_location(theirs):
        for i, (a, b) in enumerate(zip(ours, theirs)):
            compare_values(a, b, f"{field}[{i}]", out)
        if len(ours) != len(theirs):
            out.append((f"{field}.length", len(ours), len(theirs)))
        return
    if ours != theirs:
        out.append((field, ours, theirs))


def is_location(value):
    return isinstance(value, list) and len(value) == 4 and all(isinstance(v, int) for v in value)


def compare_file(path, ours, theirs):
    """Differences for one file, or None when the file is not compared."""
    if "rejected" in theirs:
        return None
    out = []
    if "reference_error" in theirs:
        out.append(Difference(path, "file", "reference_error", None, theirs["reference_error"]))
        return out
    for key in ("path", "module"):
        if ours.get(key) != theirs.get(key):
            out.append(Difference(path, "file", key, ours.get(key), theirs.get(key)))
    if "error" in theirs or "error" in ours:
        if ours.get("error") != theirs.get("error"):
            out.append(Difference(path, "file", "error", ours.get("error"), theirs.get("error")))
        return out
    if ours.get("uri") != theirs.get("uri"):
        out.append(Difference(path, "file", "uri", ours.get("uri"), theirs.get("uri")))
    for kind in ("functions", "resolvers", "feature_classes"):
        mine, reference = ours.get(kind, []), theirs.get(kind, [])
        for index, (a, b) in enumerate(zip(mine, reference)):
            fields = []
            compare_values(a, b, "", fields)
            label = record_label(kind, index, b)
            out.extend(Difference(path, label, field.lstrip("."), x, y) for field, x, y in fields)
        if len(mine) != len(reference):
            names = lambda records: [r.get("resolver_name") or r.get("class_name") for r in records]  # noqa: E731
            out.append(Difference(path, kind, "length", f"{len(mine)} {names(mine)[:8]}",
                                  f"{len(reference)} {names(reference)[:8]}"))
    return out


def source_line(path, location, cwd):
    """The source line of a location's start, for the report."""
    if not is_location(location):
        return None
    try:
        with open(os.path.join(cwd, path), "rb") as file:
            lines = file.read().decode("utf-8").splitlines()
        return lines[location[0]].rstrip() if location[0] < len(lines) else None
    except (OSError, UnicodeDecodeError):
        return None


# ---------------------------------------------------------------------------
# Runs.

class Run:
    def __init__(self, name, root, files, cwd):
        self.name, self.root, self.files, self.cwd = name, root, files, cwd


def execute(args, run):
    batches = [run.files[i:i + BATCH] for i in range(0, len(run.files), BATCH)]

    def one(batch):
        return batch, run_dump(args.dump, run.root, batch, run.cwd), run_reference(args.python, run.root, batch,
                                                                                  run.cwd)

    differences, compared, skipped = [], 0, 0
    with concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
        for batch, ours, theirs in pool.map(one, batches):
            for path, a, b in zip(batch, ours, theirs):
                found = compare_file(path, a, b)
                if found is None:
                    skipped += 1
                    continue
                compared += 1
                differences.extend(found)
    return differences, compared, skipped


def report(run, differences, compared, skipped, show):
    print(f"{run.name}: {compared} files compared, {skipped} skipped (rejected by the interpreter), "
          f"{len(differences)} differences")
    for d in differences[:show]:
        print(f"  {os.path.relpath(d.path, run.root) if d.path.startswith('/') else d.path}: {d.record}: {d.field}")
        print(f"      ours:      {json.dumps(d.ours, ensure_ascii=False)[:400]}")
        print(f"      reference: {json.dumps(d.theirs, ensure_ascii=False)[:400]}")
        line = source_line(d.path, d.theirs, run.cwd) or source_line(d.path, d.ours, run.cwd)
        if line is not None:
            print(f"      line:      {line[:200]}")
    if differences:
        counts = collections.Counter(d.kind() for d in differences)
        print("  by field: " + ", ".join(f"{k} {n}" for k, n in counts.most_common(20)))


FORMS = ["crlf", "cr", "bom", "tabs"]


def decorated_run(args, libdir, files, temp, forms=False):
    """The decorated library; with `forms`, each file in one of the forms of
    decorate.py, in turn."""
    name = "rewritten" if forms else "decorated"
    root = os.path.join(temp, name.replace(" ", "-"))
    if forms:
        pairs = [[f, os.path.join(root, os.path.relpath(f, libdir)), FORMS[i % len(FORMS)]]
                 for i, f in enumerate(files)]
    else:
        pairs = [[f, os.path.join(root, os.path.relpath(f, libdir))] for f in files]
    completed = subprocess.run([args.python, "-W", "ignore", DECORATE], input=json.dumps(pairs).encode("utf-8"),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if completed.returncode != 0:
        raise RuntimeError(f"decorate.py exited with {completed.returncode}: "
                           f"{completed.stderr.decode('utf-8', 'replace')[-2000:]}")
    results = json_lines(completed.stdout.decode("utf-8"), len(pairs), "decorate.py")
    written = [pair[1] for pair, result in zip(pairs, results) if result.get("ok")]
    left_out = len(pairs) - len(written)
    print(f"{name}: {len(written)} files decorated, {left_out} left out (not-decorated)")
    return Run(name, root, written, temp)


COMMENT_TEXTS = [
    "Description.", ":owner: team", ":owner:", ":tags: a, b", ":tags:", "  :tags:  x,,y  ", ":Owner: no",
    "owner: no", "", "caf\u00e9 \u2014 \u00fc", "text\u00a0with\u00a0nbsp", "trailing   ", ":tags:\u3000z\u2003w",
    "# doubled", ":owner:\tlead", "\u00e9",
]
FIELD_NAMES = ["a", "b", "c", "\u00e9t\u00e9", "\ufb01eld"]


def generated_classes(rng):
    """A file of feature classes whose bodies mix fields, comments, blank
    lines, nested blocks and methods at random (always valid Python)."""
    lines = ["from tolva.features import features, online", ""]
    base = ""
    if rng.random() < 0.4:
        lines.append("def holder(x):")
        base = rng.choice(["    ", "\t", "  "])
    for number in range(rng.randint(1, 4)):
        lines.append(base + "@features" + rng.choice(["", "()", f'(name="n{number}")', "(owner=1, name=f'x')"]))
        lines.append(base + f"class C{number}:")
        body = base + rng.choice(["    ", "\t", "  ", "\t  "])
        unit = rng.choice(["    ", "\t"])
        statements = 0
        for _ in range(rng.randint(1, 14)):
            kind = rng.randrange(9)
            name = rng.choice(FIELD_NAMES)
            if kind <= 2:
                lines.append(body + rng.choice(["", "  ", "\x0c"]) + "#" * rng.randint(1, 2) + rng.choice(COMMENT_TEXTS))
            elif kind == 3:
                lines.append(rng.choice(["", body, "   "]))
            elif kind == 4:
                value = rng.choice(["", " = 1", " = feature(a=1, b=x)", " = feature(**k)"])
                lines.append(body + f"{name}: int{value}" + rng.choice(["", "  # trailing"]))
                statements += 1
            elif kind == 5:
                lines.append(body + f"{name} = " + rng.choice(["1", "feature(c=2)", "(1)", "f(x)(y=1)"]))
                statements += 1
            elif kind == 6:
                lines.append(body + "if x:")
                lines.append(body + unit + f"{name}: int = 0")
                statements += 1
            elif kind == 7:
                lines.append(body + "def m(self):")
                lines.append(body + unit + "return 1")
                if rng.random() < 0.5:
                    lines.append(body + unit + "# " + rng.choice(COMMENT_TEXTS))
                statements += 1
            else:
                lines.append(body + f"{name} = {name}2 = 0")
                statements += 1
        if not statements:
            lines.append(body + "pass")
    if base:
        lines.append(base + "return None")
    newline = rng.choice(["\n", "\r\n"])
    return newline.join(lines) + rng.choice([newline, ""])


DICT_KEYS = ['"k"', "'k'", 'u"k"', 'r"\\d"', '"a" "b"', 'f"k"', 'b"k"', "1", "k", '"\\u00e9"', '"\\N{BULLET}"',
             '"""t"""', '"\\ud800"', '("p")']
VALUES = ["1", "x", "(1)", "[1, 2]", "f(a=1)", "lambda: 0", '"s"', "{}", "(a, b)", "a if b else c", "*x"]


def generated_functions(rng):
    """A file of defs with random parameter lists, headers, decorators and
    bodies (always valid Python)."""
    lines = ["from tolva import online, offline as off", "from tolva.features import stream", ""]

    def parameter(name, star=""):
        gap = rng.choice(["", "", " ", "  # c\n    "]) if star else ""
        annotation = rng.choice(["", "", ": int", ': "str"', ": (int)", ": list[int]"])
        return star + gap + name + annotation

    def decorator(indent):
        callee = rng.choice(["online", "off", "stream", "other", "online.attr"])
        if rng.random() < 0.3:
            return indent + "@" + callee
        keywords = []
        for k in range(rng.randint(0, 4)):
            if rng.random() < 0.5:
                items = []
                for _ in range(rng.randint(0, 4)):
                    key = rng.choice(DICT_KEYS)
                    items.append(f"**{{}}" if key == "1" and rng.random() < 0.3 else f"{key}: {rng.choice(VALUES[:-1])}")
                value = "{" + ", ".join(items) + "}"
            else:
                value = rng.choice(VALUES[:-1])
            keywords.append(f"kw{k}" + rng.choice(["=", " = ", "=\\\n    "]) + value)
        if rng.random() < 0.2:
            keywords.append("**extra")
        return indent + "@" + callee + "(" + ", ".join(keywords) + ")"

    def function(indent, depth):
        for _ in range(rng.randint(0, 2)):
            lines.append(decorator(indent))
        groups = []
        names = iter(f"p{i}" for i in range(20))
        plain = [parameter(next(names)) for _ in range(rng.randint(0, 3))]
        first_default = rng.randint(0, len(plain))
        plain = [p + ("=1" if i >= first_default else "") for i, p in enumerate(plain)]
        if plain and rng.random() < 0.3:
            plain.append("/")
        groups += plain
        if rng.random() < 0.5:
            groups.append(parameter(next(names), "*"))
            groups += [parameter(next(names)) for _ in range(rng.randint(0, 2))]
        if rng.random() < 0.4:
            groups.append(parameter(next(names), "**"))
        if groups and groups[-1] == "/" and len(groups) == 1:
            groups = []
        head = rng.choice(["def", "async def", "def  "]) + " " + f"f{len(lines)}" + rng.choice(["", "[T]"]) * 0
        returns = rng.choice(["", "", " -> int", " -> (int)", " -> \\\n    int", "  \\\n    "])
        lines.append(indent + head + "(" + ", ".join(groups) + ")" + returns + rng.choice([":", " :"]))
        body = indent + rng.choice(["    ", "\t"])
        count = 0
        for _ in range(rng.randint(1, 5)):
            kind = rng.randrange(6)
            if kind == 0:
                lines.append(body + rng.choice(["return", "return 1", "return (\n" + body + "    1)", "return a, b"]))
            elif kind == 1:
                lines.append(body + "if x:")
                lines.append(body + "    return " + rng.choice(VALUES[:-1]))
            elif kind == 2 and depth < 3:
                function(body, depth + 1)
            elif kind == 3:
                lines.append(body + "x = 1; y = 2")
            elif kind == 4:
                lines.append(body + "# a comment")
                continue
            else:
                lines.append(body + "pass")
            count += 1
        if not count:
            lines.append(body + "...")

    for _ in range(rng.randint(1, 5)):
        function("", 0)
        lines.append("")
    return "\n".join(lines) + "\n"


def fixture_run(temp):
    root = os.path.join(temp, "fixtures")
    names = sorted(f for f in os.listdir(FIXTURES) if f.endswith(".py"))
    files = []
    for folder in [""] + FIXTURE_FOLDERS:
        target = os.path.join(root, folder) if folder else root
        os.makedirs(target, exist_ok=True)
        for name in names:
            shutil.copyfile(os.path.join(FIXTURES, name), os.path.join(target, name))
            files.append(os.path.join(target, name))
    # Relative paths, read against the working directory (the root).
    files.extend(names)
    # Paths that the module names treat specially, and files that cannot be
    # read: a missing one, a folder, one that is not UTF-8.
    files.extend([
        os.path.join(root, ".", FIXTURE_FOLDERS[0], "..", names[0]),
        root + "//" + FIXTURE_FOLDERS[0] + "//" + names[0],
        "./" + names[0],
        os.path.join(FIXTURE_FOLDERS[0], "..", FIXTURE_FOLDERS[0], names[0]),
    ])
    os.makedirs(os.path.join(root, "folder.py"))
    with open(os.path.join(root, "latin1.py"), "wb") as file:
        file.write(b"x = '\xe9'\n")
    files.extend(["missing.py", os.path.join(root, "folder.py"), "latin1.py"])
    # A relative path through a symbolic link (its URI is the canonical
    # path) and a file outside the root.
    os.symlink(FIXTURE_FOLDERS[0], os.path.join(root, "link"))
    files.extend([os.path.join("link", names[0]), os.path.join(root, "link", names[0]),
                  os.path.join(FIXTURES, names[0])])
    # Generated class bodies, the same on every run.
    rng = random.Random(20261210)
    for number in range(60):
        for kind, generate in (("classes", generated_classes), ("functions", generated_functions)):
            path = os.path.join(root, f"generated_{kind}_{number:02}.py")
            with open(path, "wb") as file:
                file.write(generate(rng).encode("utf-8"))
            files.append(path)
    return Run("fixtures", root, files, root)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("dump")
    parser.add_argument("python")
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--show", type=int, default=30)
    parser.add_argument("--only", help="compare only library files whose path contains this text")
    parser.add_argument("--runs", default="fixtures,plain,decorated,rewritten")
    args = parser.parse_args()
    args.dump = os.path.abspath(args.dump)
    missing = oracles.interpreter_missing(args.python)
    if missing:
        return oracles.unavailable(missing)
    if not has_analyse_mode(args.dump):
        print(f"SKIP: {args.dump} has no analyse mode")
        return SKIP
    runs = args.runs.split(",")
    libdir = subprocess.run([args.python, "-c", "import sysconfig; print(sysconfig.get_paths()['stdlib'])"],
                            stdout=subprocess.PIPE, check=True).stdout.decode().strip()
    files = library_files(libdir)
    if args.only:
        files = [f for f in files if args.only in f]
    failed = False
    with tempfile.TemporaryDirectory(prefix="analysis-differential-") as temp:
        plans = []
        if "fixtures" in runs:
            plans.append(fixture_run(temp))
        if "plain" in runs:
            plans.append(Run("plain", libdir, files, libdir))
        if "decorated" in runs:
            plans.append(decorated_run(args, libdir, files, temp))
        if "rewritten" in runs:
            plans.append(decorated_run(args, libdir, files, temp, forms=True))
        for run in plans:
            differences, compared, skipped = execute(args, run)
            report(run, differences, compared, skipped, args.show)
            failed = failed or bool(differences) or compared == 0
    print("analysis differential: " + ("FAILED" if failed else "all records agree"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
