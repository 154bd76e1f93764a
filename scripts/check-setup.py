#!/usr/bin/python3
"""The set-up check: everything the build reads from the system comes from a Debian
package that scripts/setup.sh installs, or from one those packages depend on.

  check-setup.py record --source DIR --out DIR
      Configures and builds DIR into a scratch folder OUT/build the way setup.sh does,
      under strace, and writes the system files it opened or ran to OUT/files.txt.
  check-setup.py check --files OUT/files.txt [--packages scripts/packages.txt]
      Maps those files, and the programs the tests run (TEST_TOOLS below), to their
      packages and fails naming each package that the list does not bring in.
  check-setup.py prove-missing PACKAGE --files OUT/files.txt [--packages LIST]
      Runs the check against a copy of the list without PACKAGE and succeeds only when
      the check fails naming it.

Only Debian 12's own tools are used: strace, dpkg-query and dpkg (dpkg -S).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Programs the tests run (looked up on PATH). Add a line when a test starts using one.
# A name is looked up on PATH; a full path is taken as it is.
TEST_TOOLS = [
    "/usr/bin/python3",
    "bash",
    "cmake",
    "ctest",
    "cpack",
    "dpkg-shlibdeps",
    "dpkg-deb",
    "file",
    "strace",
    "xvfb-run",
    "desktop-file-validate",
    "appstreamcli",
    "/usr/sbin/mosquitto",
    "/usr/bin/prometheus-node-exporter",
    "curl",
]

# Read when present, needed by nothing: glibc's locale name aliases (package locales).
OPTIONAL = {"/usr/share/locale/locale.alias"}

# Folders whose files belong to the system (the source and build folders do not).
SYSTEM_ROOTS = ("/usr/", "/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/", "/opt/")
# Folders where no Debian package puts files: anything read there comes from elsewhere.
FOREIGN_ROOTS = ("/usr/local/", "/opt/")
# Merged /usr: /lib/x is /usr/lib/x, and dpkg knows the file under the name it ships.
MERGED = ("/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/")

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_LIST = os.path.join(HERE, "packages.txt")


def read_list(path):
    """The package names of a list: one a line, # starts a comment."""
    names = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            name = line.split("#", 1)[0].strip()
            if name:
                names.append(name)
    return names


# ---------------------------------------------------------------- recording

OPEN_RE = re.compile(r'^(\d+)\s+(openat|open|execve|execveat)\((?:(?:-?\d+|AT_FDCWD)(?:<([^>]*)>)?, )?"([^"]*)"')
LIST_RE = re.compile(r'^(\d+)\s+getdents64\(\d+<([^>]*)>, \S+ /\* [1-9]\d* entries \*/')
# Folders whose every file some programs read when they list them: pkg-config looks
# through all .pc files for an absent package (one the build asks about and does without),
# the linker loads every plugin there is, fontconfig reads all its settings.  A file a
# process read after listing one of these is not counted, nor what it pulls in.
SCANNED = re.compile(r"^/usr/(lib(/[^/]+)?|share)/pkgconfig$|^/usr/lib/bfd-plugins$|"
                     r"^/etc/fonts/conf\.d$|^/usr/share/fontconfig/conf\.avail$")


def record(source, out):
    """Configure and build source into out/build under strace; writes out/files.txt:
    one system file a line, 'read - PATH', or 'found PID PATH' for a file a process
    came upon by listing a SCANNED folder, and 'read PID PATH' for the other files such
    a process read."""
    build = os.path.join(out, "build")
    shutil.rmtree(build, ignore_errors=True)
    os.makedirs(out, exist_ok=True)
    trace = os.path.join(out, "trace.txt")
    strace = ["strace", "-f", "-qq", "-z", "--seccomp-bpf", "-y", "-s", "4096",
              "-e", "trace=open,openat,execve,execveat,getdents64", "-o", trace, "--"]
    steps = [
        ["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
        ["cmake", "--build", build, "-j%d" % os.cpu_count()],
    ]
    lines = set()
    started = time.monotonic()
    for step in steps:
        print("recording:", " ".join(step), flush=True)
        done = subprocess.run(strace + step, stdout=subprocess.DEVNULL)
        if done.returncode != 0:
            sys.exit("the step failed (exit %d): %s" % (done.returncode, " ".join(step)))
        lines |= classify(trace)
    os.remove(trace)
    shutil.rmtree(build, ignore_errors=True)  # the list is all the checks need
    with open(os.path.join(out, "files.txt"), "w", encoding="utf-8") as f:
        f.write("".join(" ".join(line) + "\n" for line in sorted(lines, key=lambda l: (l[2], l[0], l[1]))))
    print("%d system files read in %.0f s" % (len({l[2] for l in lines}), time.monotonic() - started))


def classify(trace):
    """(kind, pid, path) for the system files (not folders) a trace shows opened or run."""
    opened = {}   # pid -> paths
    listed = {}   # pid -> folders
    with open(trace, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = LIST_RE.match(line)
            if m:
                listed.setdefault(m.group(1), set()).add(os.path.normpath(m.group(2)))
                continue
            m = OPEN_RE.match(line)
            if not m:
                continue
            pid, base, path = m.group(1), m.group(3), m.group(4)
            if not path.startswith("/"):
                if not base:
                    continue  # relative to a working folder: the project's own files
                path = os.path.join(base, path)
            opened.setdefault(pid, set()).add(os.path.normpath(path))
    result = set()
    for pid, paths in opened.items():
        folders = {d for d in listed.get(pid, ()) if SCANNED.match(d)}
        entries = set()
        for folder in folders:
            try:
                entries |= {os.path.realpath(os.path.join(folder, e)) for e in os.listdir(folder)}
            except OSError:
                pass
        for path in paths:
            if not path.startswith(SYSTEM_ROOTS) or os.path.isdir(path):
                continue
            found = os.path.dirname(path) in folders or path in entries
            result.add(("found", pid, path) if found else ("read", pid if folders else "-", path))
    return result


# ---------------------------------------------------------------- packages


def merged_twin(path):
    """The same file under its other name on a merged-/usr system, or None."""
    for root in MERGED:
        if path.startswith("/usr" + root):
            return path[len("/usr"):]
        if path.startswith(root):
            return "/usr" + path
    return None


def link_chain(path):
    """path, every name its symlinks lead through, and where they end."""
    chain = [path]
    current = path
    for _ in range(40):
        if not os.path.islink(current):
            break
        current = os.path.normpath(os.path.join(os.path.dirname(current), os.readlink(current)))
        chain.append(current)
    real = os.path.realpath(path)
    if real not in chain:
        chain.append(real)
    return chain


def owners_of(paths):
    """{path: {package, ...}} from dpkg -S, for the paths dpkg knows."""
    owners = {}
    paths = sorted(set(paths))
    for i in range(0, len(paths), 500):
        done = subprocess.run(["dpkg", "-S"] + paths[i:i + 500], capture_output=True, text=True)
        for line in done.stdout.splitlines():
            if line.startswith("diversion by "):
                continue  # "diversion by P from/to: path": the owner is on its own line
            names, sep, path = line.partition(": ")
            if not sep:
                continue
            for name in names.split(","):
                owners.setdefault(path.strip(), set()).add(name.strip().split(":")[0])
    return owners


def installed_packages():
    """{name: (pre-depends + depends clauses, provides, base)} for installed packages."""
    fmt = "${db:Status-Abbrev}\t${Package}\t${Pre-Depends}\t${Depends}\t${Provides}\t${Essential}\t${Priority}\n"
    out = subprocess.run(["dpkg-query", "-W", "-f=" + fmt], capture_output=True, text=True, check=True).stdout
    packages = {}
    for line in out.splitlines():
        status, name, pre, dep, provides, essential, priority = line.split("\t")
        if not status.startswith("ii"):
            continue
        clauses = [c for c in (pre + "," + dep).split(",") if c.strip()]
        alternatives = [[bare(a) for a in c.split("|")] for c in clauses]
        provided = [bare(p) for p in provides.split(",") if p.strip()]
        base = essential == "yes" or priority == "required"
        packages[name] = (alternatives, provided, base)
    return packages


def bare(relation):
    """'libfoo:any (>= 1.2)' -> 'libfoo'."""
    return relation.strip().split(" ")[0].split("(")[0].split(":")[0]


def closure(listed, packages, with_base=True):
    """The installed packages that installing listed brings in (Depends, Pre-Depends),
    together with what every Debian 12 system has (Essential and required packages)."""
    providers = {}
    for name, (_, provided, _) in packages.items():
        for p in provided:
            providers.setdefault(p, set()).add(name)

    def satisfiers(alternatives):
        # apt takes the first alternative it can; here: the first one present on this
        # machine, the real package if it is installed, otherwise what provides it.
        for alt in alternatives:
            if alt in packages:
                return {alt}
            if providers.get(alt):
                return providers[alt]
        return set()

    todo = [p for p in listed if p in packages]
    if with_base:
        todo += [n for n, (_, _, base) in packages.items() if base]
    seen = set()
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        for clause in packages[name][0]:
            todo.extend(satisfiers(clause) - seen)
    return seen


# ---------------------------------------------------------------- the check


def check(files_list, package_list):
    started = time.monotonic()
    listed = read_list(package_list)
    packages = installed_packages()
    problems = []
    absent = [p for p in listed if p not in packages]
    for p in absent:
        problems.append("listed but not installed on this machine: %s (run scripts/setup.sh)" % p)
    have = closure(listed, packages)

    readers, found, optional = read_files(files_list)
    files = set(readers)
    reads = {path: "read by the build" for path in files}
    for tool in TEST_TOOLS:
        where = shutil.which(tool)
        if where is None:
            problems.append("the tests run '%s', which is not on this machine: install the "
                            "Debian package that provides it and list it in %s" % (tool, package_list))
        elif not where.startswith(SYSTEM_ROOTS):
            problems.append("the tests run '%s', which here is %s, no Debian package's "
                            "program" % (tool, where))
        else:
            reads[where] = "run by the tests as '%s'" % tool

    chains = {path: link_chain(path) for path in set(reads) | {p for ps in found.values() for p in ps}}
    names = set()
    for chain in chains.values():
        for p in chain:
            names.add(p)
            twin = merged_twin(p)
            if twin:
                names.add(twin)
    owners = owners_of(names)

    def packages_of(path):
        return [who for who in (owners.get(p, set()) | owners.get(merged_twin(p) or "", set())
                                for p in chains[path]) if who]

    # What the files a process came upon by listing a folder pull in, it may read.
    pulled_in = {}
    for pid, paths in found.items():
        names = {name for path in paths for who in packages_of(path) for name in who}
        pulled_in[pid] = closure(names, packages, with_base=False)

    missing = {}  # package -> example reasons
    foreign = []
    unowned = []
    excused = set()
    for path, why in sorted(reads.items()):
        owned = packages_of(path)
        for who in owned:
            if who & have:
                continue
            by = readers.get(path, {"-"})
            if "-" not in by and all(who & pulled_in[pid] for pid in by):
                excused.add(path)
                continue
            for name in sorted(who):
                missing.setdefault(name, []).append("%s (%s)" % (path, why))
        if not owned:
            (foreign if path.startswith(FOREIGN_ROOTS) else unowned).append("%s (%s)" % (path, why))

    print("%d packages listed, %d with their dependencies and the base system; "
          "%d files read, %d programs the tests run" % (len(listed), len(have), len(files), len(TEST_TOOLS)))
    print("not counted: %d files found by listing a folder, %d files these pulled in, %d read "
          "only when present" % (len({p for ps in found.values() for p in ps} - files), len(excused),
                                 len(optional)))
    if unowned:
        print("files of no package (caches the system makes), not counted:")
        for u in unowned:
            print("  " + u)
    for f in foreign:
        problems.append("read from outside Debian's packages: " + f)
    if missing:
        problems.append("packages the build or the tests need that %s does not bring in:" % package_list)
    for p in problems:
        print("FAIL: " + p)
    for name in sorted(missing):
        examples = missing[name]
        print("  %s  (%d files, e.g. %s)" % (name, len(examples), examples[0]))
    print("checked in %.1f s" % (time.monotonic() - started))
    return (1 if problems else 0), sorted(missing)


def read_files(files_list):
    """From a recording: {path: pids that read it ('-' for a process that found nothing
    by listing)}, {pid: paths it found by listing a folder}, the optional files read."""
    readers, found, optional = {}, {}, set()
    with open(files_list, encoding="utf-8") as f:
        for line in f:
            kind, pid, path = line.rstrip("\n").split(" ", 2)
            if kind == "found":
                found.setdefault(pid, set()).add(path)
            elif path in OPTIONAL:
                optional.add(path)
            else:
                readers.setdefault(path, set()).add(pid)
    return readers, found, optional


def prove_missing(package, files_list, package_list):
    """The check must fail naming package when the list lacks it."""
    listed = read_list(package_list)
    if package not in listed:
        sys.exit("%s is not in %s" % (package, package_list))
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "packages-without-%s.txt" % package)
        with open(package_list, encoding="utf-8") as src, open(copy, "w", encoding="utf-8") as dst:
            for line in src:
                if line.split("#", 1)[0].strip() != package:
                    dst.write(line)
        done = subprocess.run([sys.executable, os.path.abspath(__file__), "check",
                               "--files", files_list, "--packages", copy],
                              capture_output=True, text=True)
    print(done.stdout, end="")
    print(done.stderr, end="", file=sys.stderr)
    named = re.search(r"^  %s  \(" % re.escape(package), done.stdout, re.M) is not None
    if done.returncode == 1 and named:
        print("as it should: the check fails and names %s" % package)
        return 0
    print("WRONG: with %s left out the check %s" % (
        package, "failed without naming it" if done.returncode else "passed"))
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    r = sub.add_parser("record")
    r.add_argument("--source", required=True)
    r.add_argument("--out", required=True)
    c = sub.add_parser("check")
    c.add_argument("--files", required=True)
    c.add_argument("--packages", default=DEFAULT_LIST)
    m = sub.add_parser("prove-missing")
    m.add_argument("package")
    m.add_argument("--files", required=True)
    m.add_argument("--packages", default=DEFAULT_LIST)
    args = parser.parse_args()
    if args.command == "record":
        record(os.path.abspath(args.source), os.path.abspath(args.out))
        return 0
    if args.command == "check":
        return check(args.files, args.packages)[0]
    return prove_missing(args.package, args.files, args.packages)


if __name__ == "__main__":
    sys.exit(main())
