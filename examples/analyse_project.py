"""Analyse examples/feature_project with tolva_rs and show what it declares.

The project is indexed in the background; the script then asks the index for
each class and function that a quick text scan of the files names, and
prints the feature classes with their fields and the resolvers with their
decorator's keyword arguments and parameters.

Run it with the module built (scripts/run-example builds it first):

    TOLVA_BUILD_DIR=build/release /usr/bin/python3 examples/analyse_project.py
"""

import os
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("TOLVA_BUILD_DIR", ROOT / "build" / "release"))
sys.path.insert(0, str(BUILD / "python"))

import tolva_rs  # noqa: E402

PROJECT = ROOT / "examples" / "feature_project"
DEFINITION = re.compile(r"^\s*(class|def)\s+(\w+)", re.MULTILINE)


def where(location):
    """A 4-tuple of zero-based positions as one-based "line:column"."""
    if location is None:
        return "-"
    start_line, start_character, _, _ = location
    return f"{start_line + 1}:{start_character + 1}"


def text_at(lines, location):
    """The source text that a location covers."""
    start_line, start_character, end_line, end_character = location
    if start_line == end_line:
        return lines[start_line][start_character:end_character]
    parts = [lines[start_line][start_character:], *lines[start_line + 1:end_line], lines[end_line][:end_character]]
    return "\n".join(parts)


def show_feature_class(cls, lines):
    print(f"feature class {cls.module}.{cls.class_name}  namespace {cls.namespace!r}  at {where(cls.class_name_location)}")
    for name, value in sorted(cls.kwargs.items()):
        print(f"    @features {name}={text_at(lines, value)}")
    # `fields` is a dict without a meaningful order: show them in source order.
    for field in sorted(cls.fields.values(), key=lambda f: f.field_name_location):
        name = field.field_name
        annotation = text_at(lines, field.annotation) if field.annotation else "-"
        print(f"  {name}: {annotation}  at {where(field.field_name_location)}")
        print(f"      owner: {field.owner or '-'}   tags: {', '.join(field.tags) or '-'}")
        if field.description:
            print(f"      {field.description}")
        if field.feature_call:
            print(f"      = {text_at(lines, field.feature_call)}")


def show_resolver(resolver, lines):
    decorator = text_at(lines, resolver.decorator_location).split("(")[0]
    print(f"resolver {resolver.module}.{resolver.resolver_name}  @{decorator}  at {where(resolver.resolver_name_location)}")
    for name, value in resolver.kwargs.items():
        print(f"    {name} = {text_at(lines, value)}")
        for key, item in resolver.kwarg_dict_values.get(name, {}).items():
            print(f"        [{key!r}] = {text_at(lines, item)}")
    for name in resolver.args_in_order:
        arg = resolver.args[name]
        annotation = f": {text_at(lines, arg.annotation)}" if arg.annotation else ""
        print(f"  parameter {name}{annotation}  at {where(arg.arg_location)}")
    if resolver.return_annotation:
        print(f"  returns {text_at(lines, resolver.return_annotation)}")
    print(f"  {len(resolver.return_statements)} return statement(s)")


def main():
    files = sorted(str(path) for path in PROJECT.rglob("*") if path.is_file())
    index = tolva_rs.AstProjectIndex(files, str(PROJECT))
    index.nonblocking_start_index()
    print(f"indexing {len(files)} files of {PROJECT.name} in the background\n")

    for path in files:
        try:
            source = tolva_rs.StdAstFileSystem([]).read_to_string(path)
        except OSError as error:
            print(f"{path}: {error}")
            continue
        lines = source.splitlines()
        for kind, name in DEFINITION.findall(source):
            if kind == "class":
                cls = index.feature_class_ast_in_file(path, name)
                if cls is not None:
                    show_feature_class(cls, lines)
                    print()
            else:
                resolver = index.resolver_ast_in_file(path, name)
                if resolver is not None:
                    show_resolver(resolver, lines)
                    print()

    # The file with a syntax error yields nothing; the parse cache says why.
    cache = tolva_rs.AstFileParserCache(files, str(PROJECT))
    try:
        cache.get_parsed_file(str(PROJECT / "shop" / "broken.py"))
    except ValueError as error:
        print(f"skipped: {error}")
    print(f"helper is a function but not a resolver: {index.resolver_ast('shop.resolvers', 'helper') is None}")


if __name__ == "__main__":
    main()
