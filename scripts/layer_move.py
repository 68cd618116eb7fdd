#!/usr/bin/env python3
"""The engine's layer folders, from the table in scripts/jet_layers.txt.

  layer_move.py plan   flat jet/: print each file's layer and includes, then the leaks
  layer_move.py move   flat jet/: `git mv` every file into jet/<layer>/, rewrite every
                       #include "jet/x.h" and every mention of jet/x.cpp|h of the
                       repository, write the CMake lists
  layer_move.py check  layered jet/: the layer test (a leak, an unplaced file or a front
                       end reaching past jet/engine.h fails it)

Every command fails, listing them, when jet/ holds a file the table does not place.
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "scripts" / "jet_layers.txt"
JET = ROOT / "jet"
# The public interface, at jet/ top: it may include any layer; the engine's sources that
# define what it declares include it, its headers never do.
PUBLIC = "engine.h"
# Front ends use the engine through engine.h only.
FRONT_ENDS = ("tools/jetrepair", "platform")
SOURCE_SUFFIXES = {".cpp", ".h", ".cc", ".hpp", ".c", ".inc"}
INCLUDE = re.compile(r'(#\s*include\s*")jet/([A-Za-z0-9_./]+)(")')


def read_table():
    layers, place = [], {}
    for line in TABLE.read_text(encoding="utf-8").splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        if line.startswith("["):
            layers.append(line[1:line.index("]")])
            continue
        for name in line.split():
            if name in place:
                sys.exit(f"{TABLE.name}: {name} aparece dos veces")
            place[name] = layers[-1]
    return layers, place


def engine_files(flat):
    """Names of the engine's sources: jet/*.{cpp,h} when flat, jet/<layer>/* when layered."""
    pattern = "*" if flat else "*/*"
    return sorted(p.name for p in JET.glob(pattern) if p.suffix in (".cpp", ".h") and p.name != PUBLIC)


def require_all_placed(names, place):
    missing = [n for n in names if n not in place]
    if missing:
        sys.exit("sin capa en scripts/jet_layers.txt (añádelos):\n  " + "\n  ".join(missing))


def includes(path):
    return [m.group(2) for m in INCLUDE.finditer(path.read_text(encoding="utf-8"))]


def leaks(layers, place, flat):
    """(file, its layer, included header, that header's layer) for every include upward."""
    rank = {layer: i for i, layer in enumerate(layers)}
    found = []
    for name in [PUBLIC] + sorted(place):
        path = JET / name if flat or name == PUBLIC else JET / place[name] / name
        if not path.exists():
            continue
        own = "api" if name == PUBLIC else place[name]
        for inc in includes(path):
            header = inc.rsplit("/", 1)[-1]
            target = "api" if header == PUBLIC else place.get(header)
            if target is None:
                found.append((name, own, inc, "?"))
            elif not flat and inc != (PUBLIC if header == PUBLIC else f"{target}/{header}"):
                found.append((name, own, inc, "ruta"))
            elif header == PUBLIC and path.suffix == ".h":
                found.append((name, own, header, "api"))
            elif own != "api" and target != "api" and rank[target] > rank[own]:
                found.append((name, own, header, target))
    return found


def front_end_reaches():
    found = []
    for folder in FRONT_ENDS:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix in SOURCE_SUFFIXES:
                found += [(str(path.relative_to(ROOT)), inc) for inc in includes(path) if inc != PUBLIC]
    return found


def plan(layers, place):
    require_all_placed(engine_files(True), place)
    for layer in layers:
        print(f"[{layer}]")
        for name in sorted(n for n in place if place[n] == layer and (JET / n).exists()):
            deps = [f"{i}({place.get(i, 'api' if i == PUBLIC else '?')})" for i in includes(JET / name)]
            print(f"  {name}: {' '.join(deps)}")
    return report(leaks(layers, place, True), [])


def report(found, reaches):
    for name, own, inc, target in found:
        print(f"fuga: {own}/{name} incluye {inc} ({target})")
    for path, inc in reaches:
        print(f"fuga: {path} incluye jet/{inc}; los programas usan el motor solo por jet/{PUBLIC}")
    return 1 if found or reaches else 0


TEXT_SUFFIXES = SOURCE_SUFFIXES | {".py", ".md", ".txt", ".cmake", ".sh", ".mjs", ".json"}
MENTION = re.compile(r"(?<![\w/.-])jet/([A-Za-z0-9_]+\.(?:cpp|h))\b")
JOINED = re.compile(r"'jet', '([A-Za-z0-9_]+\.(?:cpp|h))'")  # os.path.join in the generators


def rewrite_paths(place):
    """Every #include "jet/x.h" and every mention of jet/x.cpp or jet/x.h (comments, docs,
    generators) now names jet/<layer>/x."""
    def moved(match):
        name = match.group(1)
        return f"jet/{place[name]}/{name}" if name in place else match.group(0)

    def joined(match):
        name = match.group(1)
        return f"'jet', '{place[name]}', '{name}'" if name in place else match.group(0)

    out = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    for rel in out.decode().split("\0"):
        path = ROOT / rel
        if not rel or path.suffix not in TEXT_SUFFIXES or not path.is_file() or path in (TABLE, pathlib.Path(__file__).resolve()):
            continue
        text = path.read_text(encoding="utf-8")
        new = JOINED.sub(joined, MENTION.sub(moved, text))
        if new != text:
            path.write_text(new, encoding="utf-8")


CMAKE_HEAD = "# Written by scripts/layer_move.py from scripts/jet_layers.txt: edit the table, not this list.\n"


def write_cmake(layers, place):
    below = None
    for layer in layers:
        sources = sorted(n for n in place if place[n] == layer and (JET / layer / n).exists())
        listed = "\n".join(f"  {n}" for n in sources)
        link = f"target_link_libraries(jet_{layer} PUBLIC jet_{below})" if below else (
            "# The check spreads independent tables over the cores (parallel.cpp).\n"
            "find_package(Threads REQUIRED)\n"
            f"target_link_libraries(jet_{layer} PUBLIC Threads::Threads)\n"
            f"target_include_directories(jet_{layer} PUBLIC ${{PROJECT_SOURCE_DIR}})")
        (JET / layer / "CMakeLists.txt").write_text(
            f"{CMAKE_HEAD}add_library(jet_{layer} STATIC\n{listed}\n)\n{link}\n", encoding="utf-8")
        below = layer
    subdirs = "\n".join(f"add_subdirectory({layer})" for layer in layers)
    (JET / "CMakeLists.txt").write_text(
        "# The engine: portable C++20, no GUI, in layers, each a library that links only the one\n"
        "# below it (docs/architecture.md). Programs and tests link `jet`; jet/engine.h is its\n"
        f"# public interface.\n{CMAKE_HEAD}{subdirs}\n"
        f"add_library(jet INTERFACE)\ntarget_link_libraries(jet INTERFACE jet_{layers[-1]})\n",
        encoding="utf-8")


def move(layers, place):
    names = engine_files(True)
    require_all_placed(names, place)
    for layer in layers:
        (JET / layer).mkdir(exist_ok=True)
    for name in names:
        subprocess.run(["git", "mv", f"jet/{name}", f"jet/{place[name]}/{name}"], cwd=ROOT, check=True)
    rewrite_paths(place)
    write_cmake(layers, place)
    subprocess.run(["git", "add", "-A", "jet"], cwd=ROOT, check=True)
    subprocess.run(["git", "add", "-u"], cwd=ROOT, check=True)
    print(f"{len(names)} archivos en {len(layers)} capas; revisa `git status` y haz commit")


def check(layers, place):
    loose = [p.name for p in JET.glob("*") if p.is_file() and p.name not in (PUBLIC, "CMakeLists.txt")]
    if loose:
        sys.exit("archivos sueltos en jet/ (van en una capa):\n  " + "\n  ".join(sorted(loose)))
    require_all_placed(engine_files(False), place)
    misplaced = [f"jet/{p.parent.name}/{p.name} (su capa: {place[p.name]})" for p in JET.glob("*/*")
                 if p.name in place and p.parent.name != place[p.name]]
    if misplaced:
        sys.exit("fuera de su capa:\n  " + "\n  ".join(misplaced))
    status = report(leaks(layers, place, False), front_end_reaches())
    if status == 0:
        print(f"capas en orden: {' <- '.join(layers)}")
    return status


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    layers, place = read_table()
    if command == "plan":
        return plan(layers, place)
    if command == "move":
        return move(layers, place)
    if command == "check":
        return check(layers, place)
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
