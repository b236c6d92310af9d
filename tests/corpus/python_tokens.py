"""Reference tokens of a Python standard library, written by the interpreter
under test (run with the oracle interpreter whose library is lexed).

For every .py file below the interpreter's standard library (site-packages
left out) prints one JSON line:

  {"path": P, "skip": REASON}                       not compared, and why
  {"path": P, "bom": B, "tokens": [[TYPE, STRING, SROW, SCOL, EROW, ECOL, EXTRA], ...]}

TYPE is the tokenize type name, positions are tokenize's (1-based rows,
0-based columns in characters), EXTRA the interpreter's own reading of the
token: for NUMBER "i" + the integer in decimal, "f" + float.hex() of the
float, "j" + float.hex() of the imaginary part; for a NAME holding a non-ASCII
character its unicodedata NFKC form; otherwise null.

Files are taken only when the interpreter compiles them, their bytes are UTF-8
(a coding cookie naming another encoding is accepted only for pure ASCII
files), and they hold no lone carriage return (tokenize splits lines at line
feeds only, the lexer also at a lone carriage return).
"""

import io
import json
import multiprocessing
import os
import sys
import sysconfig
import tokenize
import unicodedata
import warnings


def reference(path):
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        return {"path": path, "skip": "unreadable: %s" % e}
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        return {"path": path, "skip": "not UTF-8"}
    try:
        encoding, _ = tokenize.detect_encoding(io.BytesIO(raw).readline)
    except SyntaxError:
        return {"path": path, "skip": "bad coding cookie"}
    if encoding not in ("utf-8", "utf-8-sig") and not raw.isascii():
        return {"path": path, "skip": "encoding " + encoding}
    if "\r" in text.replace("\r\n", ""):
        return {"path": path, "skip": "lone carriage return"}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            compile(raw, path, "exec", dont_inherit=True)
        except (SyntaxError, ValueError, MemoryError, RecursionError):
            return {"path": path, "skip": "does not compile"}
    bom = text.startswith("\ufeff")
    if bom:
        text = text[1:]
    tokens = []
    try:
        for tok in tokenize.generate_tokens(io.StringIO(text).readline):
            name = tokenize.tok_name[tok.type]
            extra = None
            if name == "NUMBER":
                s = tok.string
                if s[-1] in "jJ":
                    extra = "j" + complex(s).imag.hex()
                else:
                    try:
                        extra = "i" + str(int(s, 0))
                    except ValueError:
                        # int(, 0) refuses leading zeros ("00"); those are 0.
                        if s.replace("_", "").strip("0") == "":
                            extra = "i0"
                        else:
                            extra = "f" + float(s).hex()
            elif name == "NAME" and not tok.string.isascii():
                extra = unicodedata.normalize("NFKC", tok.string)
            tokens.append([name, tok.string, tok.start[0], tok.start[1], tok.end[0], tok.end[1], extra])
    except (tokenize.TokenError, SyntaxError, IndentationError) as e:
        return {"path": path, "skip": "tokenize fails: %s" % e}
    return {"path": path, "bom": bom, "tokens": tokens}


def library_files(root):
    for directory, subdirectories, files in os.walk(root):
        subdirectories[:] = sorted(d for d in subdirectories if d != "site-packages")
        for name in sorted(files):
            if name.endswith(".py"):
                yield os.path.join(directory, name)


def main():
    if hasattr(sys, "set_int_max_str_digits"):
        sys.set_int_max_str_digits(0)
    root = sysconfig.get_paths()["stdlib"]
    jobs = int(sys.argv[1]) if len(sys.argv) > 1 else 2
    files = list(library_files(root))
    out = sys.stdout
    with multiprocessing.Pool(jobs, initializer=_init) as pool:
        for record in pool.imap(reference, files, chunksize=8):
            out.write(json.dumps(record))
            out.write("\n")


def _init():
    if hasattr(sys, "set_int_max_str_digits"):
        sys.set_int_max_str_digits(0)
    sys.setrecursionlimit(10000)


if __name__ == "__main__":
    main()
