#!/usr/bin/env python3
"""The README's examples, run as a newcomer runs them after the two set-up commands.

    readme_test.py README SOURCE_DIR BUILD_DIR

Takes every fenced block of README whose language is `sh` (and the Python example), in the
order they come, and runs them one after the other in one terminal's life: a fresh copy of the
checkout as the working folder (its `build/` the given build), a home, class registry, runtime
folder and simulated board of the test's own, and what one block exports kept for the next. A
block must end with status 0; where the README shows its output (an untitled block right after
it, or the lines after a `$ command` line), the output must match: `...` stands for any lines,
a trace line's notes after two blanks are the README's own, and `/home/me/lensbay` and
`/home/me` are the copy and its home (`/home/me/lensbay/build` the given build, which the copy's
`build/` links to). At the end the copy may hold nothing git does not ignore.

Blocks that cannot run here are listed with the reason (a real parallel port, root, a window
that runs until Ctrl+C, the set-up itself; Wine's where its usual set-up or the mingw-w64
compiler is missing); every other block runs. A VBScript block the text before it names
(`pinbus.vbs`) is written to that file for the blocks after it. A block that needs a display
gets a private Xvfb when one is installed.

Exit status: 0 passed, 1 failed, 77 skipped (the build lacks lensbay); under CI=true a block
skipped for a missing tool (Xvfb, the GStreamer plugin) fails the test instead.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

# Blocks that cannot run in a test, by what they contain, with the reason said in the report.
CANNOT_RUN = [
    (r"bash scripts/run\.sh", "the set-up itself (it builds and starts the window); the test "
     "stands in for it: the build given, PINBUS.OCX registered for a fresh home"),
    (r"\bsudo\b", "needs root through sudo (a real port's driver, or the package installed "
     "machine-wide; scripts/package-test.sh runs the package's steps in CI)"),
    (r"PORTIO=ppdev:|/dev/parport", "needs a real parallel port"),
    (r"^(?![\s\S]*num-buffers)[\s\S]*autovideosink", "shows live video until Ctrl+C"),
]
NEEDS_DISPLAY = r"autovideosink"
# Blocks that run Windows programs: they run where Wine's usual set-up (both kinds of program), both
# Wine builds of PINBUS.OCX and the mingw-w64 compiler are there, in a prefix in the test's home.
NEEDS_WINE = r"\bwine\b|cscript|register_pinbus\.sh|mingw32-gcc"
NEEDS_GSTREAMER = r"gst-launch-1\.0|gst-inspect-1\.0|lensbaysrc"
NEEDS_PYTHON_MODULE = r"\bimport lensbay\b"
BLOCK_TIMEOUT = 120


def parse_blocks(readme):
    """Fenced blocks: (language, lines, first line number, the untitled block right after)."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    blocks = []
    i = 0
    while i < len(lines):
        m = re.match(r"^```(\w*)\s*$", lines[i])
        if not m:
            i += 1
            continue
        start = i + 1
        j = start
        while j < len(lines) and lines[j] != "```":
            j += 1
        blocks.append({"lang": m.group(1), "lines": lines[start:j], "line": start,
                       "end": j, "output": None, "before": "\n".join(lines[max(0, i - 3):i])})
        i = j + 1
    # An untitled block with only blank lines between it and a shell block is that block's output.
    for before, after in zip(blocks, blocks[1:]):
        gap = lines[before["end"] + 1:after["line"] - 1]
        if before["lang"] == "sh" and after["lang"] == "" and all(not g.strip() for g in gap):
            before["output"] = after["lines"]
            after["is_output"] = True
    return blocks


def expected_lines(lines, subst):
    out = []
    for line in lines:
        for old, new in subst:
            line = line.replace(old, new)
        # A trace line's notes on the right are the README's own, not the program's.
        m = re.match(r"^((?:out|in)(?:8|16) 0x[0-9a-f]{4} 0x[0-9a-f]+)\s{2,}\S.*$", line)
        out.append(m.group(1) if m else line)
    return out


def matches(expected, actual):
    """Line for line; a line `...` stands for any number of lines (matched as a glob's `*`)."""
    e = a = 0
    star, resume = -1, 0
    while a < len(actual):
        if e < len(expected) and expected[e] == "...":
            star, resume = e, a
            e += 1
        elif e < len(expected) and expected[e] == actual[a]:
            e += 1
            a += 1
        elif star >= 0:
            e, resume = star + 1, resume + 1
            a = resume
        else:
            return False
    while e < len(expected) and expected[e] == "...":
        e += 1
    return e == len(expected)


def transcript(lines):
    """`$ command` lines (continued by a trailing backslash) and the output lines after each."""
    steps, i = [], 0
    while i < len(lines):
        if not lines[i].startswith("$ "):
            raise ValueError("a transcript line before any command: " + lines[i])
        command = lines[i][2:]
        while command.endswith("\\") and i + 1 < len(lines):
            i += 1
            command = command + "\n" + lines[i]  # the shell reads the backslash-newline
        i += 1
        output = []
        while i < len(lines) and not lines[i].startswith("$ "):
            output.append(lines[i])
            i += 1
        steps.append((command, output))
    return steps


class Terminal:
    """One terminal's life: the working folder and the exported environment carry from block to
    block, as they do when a user types the blocks one after the other."""

    def __init__(self, work, env, state):
        self.env = env
        self.state = state
        self.cwd = work
        with open(os.path.join(state, "env.sh"), "w") as f:
            f.write("")

    def run(self, script, extra_env=None):
        script_file = os.path.join(self.state, "block.sh")
        with open(script_file, "w") as f:
            f.write(script + "\n")
        runner = (
            'source "$STATE/env.sh"\n'
            'cd "$START_DIR" || exit 1\n'
            "set -eo pipefail\n"
            'source "$STATE/block.sh"\n'
            "status=$?\n"
            'export -p > "$STATE/env.sh"\n'
            'pwd > "$STATE/pwd"\n'
            "exit $status\n")
        env = dict(self.env)
        env.update(extra_env or {})
        env["STATE"] = self.state
        env["START_DIR"] = self.cwd
        started = time.monotonic()
        try:
            p = subprocess.run(["bash", "-c", runner], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               timeout=BLOCK_TIMEOUT)
            status, out, err = p.returncode, p.stdout, p.stderr
        except subprocess.TimeoutExpired as e:
            status, out, err = "timed out", e.stdout or b"", e.stderr or b""
        with open(os.path.join(self.state, "pwd")) as f:
            self.cwd = f.read().strip() or self.cwd
        # Windows programs end their lines with CR LF.
        text = out.decode("utf-8", "replace").replace("\r\n", "\n")
        return status, text, err.decode("utf-8", "replace"), time.monotonic() - started


def copy_checkout(source, build, dest):
    """The tracked files as they are in SOURCE (a fresh clone, with this change in it), and a
    `build/` folder whose programs and plugins are BUILD's."""
    files = subprocess.run(["git", "-C", source, "ls-files", "-z"], check=True,
                           stdout=subprocess.PIPE).stdout.decode().split("\0")
    for name in filter(None, files):
        src = os.path.join(source, name)
        if not os.path.lexists(src):
            continue  # deleted in the working tree
        target = os.path.join(dest, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.islink(src):
            os.symlink(os.readlink(src), target)
        else:
            shutil.copy2(src, target)
    os.makedirs(os.path.join(dest, "build"))
    for part in ("bin", "lib", "python", "wine", "wine32"):
        if os.path.isdir(os.path.join(build, part)):
            os.symlink(os.path.join(build, part), os.path.join(dest, "build", part))


def start_xvfb(tmp):
    if not shutil.which("Xvfb"):
        return None, None
    r, w = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(w,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and not number.endswith(b"\n"):
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    if not number.strip():
        proc.kill()
        return None, None
    return proc, ":" + number.decode().strip()


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    readme, source, build = (os.path.abspath(a) for a in sys.argv[1:])
    ci = os.environ.get("CI") == "true"
    for program in ("lensbay", "regsvr", "ocxhost", "PINBUS.OCX"):
        if not os.path.exists(os.path.join(build, "bin", program)):
            print("SKIP: %s/bin/%s is not built" % (build, program))
            return 77
    have_gst = os.path.exists(os.path.join(build, "lib", "gstreamer-1.0", "libgstlensbay.so"))
    have_python_module = os.path.exists(os.path.join(build, "python", "lensbay", "__init__.py"))
    # Set by the build when it is instrumented (LENSBAY_SANITIZE): its plugin needs the sanitizer's
    # runtime loaded first, which the system's GStreamer tools do not have.
    sanitized = os.environ.get("README_TEST_SANITIZED") == "1"
    wine_missing = None
    wanted = [("Wine's 64-bit build of PINBUS.OCX", os.path.join(build, "wine", "PINBUS.OCX.so")),
              ("its 32-bit build", os.path.join(build, "wine32", "PINBUS.OCX.so")),
              ("Wine's 32-bit loader (wine32:i386)", "/usr/lib/wine/wine")]
    for what, path in wanted:
        if not os.path.exists(path):
            wine_missing = "%s is missing (%s)" % (what, path)
    for tool in ("wine", "x86_64-w64-mingw32-gcc"):
        if not shutil.which(tool):
            wine_missing = "%s is not installed" % tool

    tmp = tempfile.mkdtemp(prefix="lensbay-readme-")
    xvfb = None
    try:
        work = os.path.join(tmp, "lensbay")
        home = os.path.join(tmp, "home")
        runtime = os.path.join(tmp, "runtime")
        state = os.path.join(tmp, "terminal")
        for d in (work, home, runtime, state):
            os.makedirs(d)
        os.chmod(runtime, 0o700)
        copy_checkout(source, build, work)
        git = shutil.which("git") is not None
        if git:
            subprocess.run(["git", "init", "-q"], cwd=work, check=True)
            subprocess.run(["git", "add", "-A"], cwd=work, check=True)

        # A newcomer's terminal: a home of its own, nothing of Lensbay's set.
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("LENSBAY_", "OLE_", "PORTIO", "GST_", "QT_", "WAYLAND_",
                                    "XDG_", "DISPLAY", "XAUTHORITY"))}
        env.update(HOME=home, XDG_RUNTIME_DIR=runtime, LC_ALL="C.UTF-8")
        terminal = Terminal(work, env, state)
        # What scripts/run.sh does besides building: PINBUS.OCX registered for this user.
        status, out, err, _ = terminal.run("build/bin/regsvr build/bin/PINBUS.OCX")
        if status != 0:
            print("FAIL: the set-up's registration failed:\n" + out + err)
            return 1

        # The copy's build/ is the given build through links, which programs resolve.
        subst = [("/home/me/lensbay/build", build), ("/home/me/lensbay", work),
                 ("/home/me", home)]
        failures, report = [], []
        for block in parse_blocks(readme):
            text = "\n".join(block["lines"])
            first = next((l for l in block["lines"] if l.strip()), "")[:70]
            where = "README.md:%d" % block["line"]
            if block.get("is_output"):
                continue
            named = re.search(r"\(`([\w.-]+\.vbs)`\)", block.get("before", ""))
            if block["lang"] == "vb" and named:
                # A script the README names, written where the next blocks run it.
                with open(os.path.join(terminal.cwd, named.group(1)), "w") as f:
                    f.write(text + "\n")
                report.append("  -   %s  vb: written to %s" % (where, named.group(1)))
                continue
            if block["lang"] not in ("sh", "python"):
                kind = {"": "text or output shown, not a command", "vb": "a VBScript file for "
                        "Wine's cscript (needs Wine)"}.get(block["lang"], "not a shell command")
                report.append("  -   %s  %s: %s" % (where, block["lang"] or "(untitled)", kind))
                continue
            reason = next((why for pattern, why in CANNOT_RUN if re.search(pattern, text)), None)
            extra = {}
            if reason is None and re.search(NEEDS_GSTREAMER, text) and sanitized:
                reason = ("the system's gst-launch-1.0 and python3 cannot load the sanitizer "
                          "build's plugin")
            if reason is None and re.search(NEEDS_GSTREAMER, text) and not have_gst:
                reason = "the GStreamer plugin is not built (libgstreamer1.0-dev)"
                if ci:
                    failures.append("%s: %s" % (where, reason))
            if reason is None and re.search(NEEDS_PYTHON_MODULE, text) and not have_python_module:
                reason = ("the Python module is not built (the sanitizer build has none; "
                          "elsewhere python3-dev, python3-numpy and pybind11-dev)")
                if ci and not sanitized:
                    failures.append("%s: %s" % (where, reason))
            if reason is None and re.search(NEEDS_WINE, text):
                if wine_missing:
                    reason = "needs Wine's usual set-up: " + wine_missing
                    if ci and os.environ.get("WINE_REQUIRED") == "1":
                        failures.append("%s: %s" % (where, reason))
                else:
                    # No offer to install Wine's Mono and Gecko in the fresh prefix.
                    extra.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            if reason is None and re.search(NEEDS_DISPLAY, text):
                if xvfb is None:
                    xvfb, display = start_xvfb(tmp)
                if xvfb is None:
                    reason = "needs a display, and Xvfb is not installed"
                    if ci:
                        failures.append("%s: %s" % (where, reason))
                else:
                    extra["DISPLAY"] = display
            if reason:
                report.append("  SKIP %s  %s\n         %s" % (where, first, reason))
                continue

            problems = []
            if block["lang"] == "python":
                path = os.path.join(state, "example.py")
                with open(path, "w") as f:
                    f.write(text + "\n")
                # The system's Python, which the set-up's python3-gi and python3-numpy serve
                # (another python3 may come first on this PATH).
                python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else "python3"
                status, out, err, took = terminal.run("%s %s" % (python, path), extra)
                if status != 0:
                    problems.append("status %s" % status)
            elif block["lines"] and block["lines"][0].startswith("$ "):
                took = 0.0
                for command, shown in transcript(block["lines"]):
                    status, out, err, t = terminal.run(command, extra)
                    took += t
                    if status != 0:
                        problems.append("`%s`: status %s" % (command, status))
                    want = expected_lines(shown, subst)
                    got = out.rstrip("\n").split("\n") if out else []
                    if not matches(want, got):
                        problems.append("`%s` printed:\n%s\n    the README shows:\n%s"
                                        % (command, out, "\n".join(want)))
            else:
                status, out, err, took = terminal.run(text, extra)
                if status != 0:
                    problems.append("status %s" % status)
                if block["output"] is not None:
                    want = expected_lines(block["output"], subst)
                    got = out.rstrip("\n").split("\n") if out else []
                    if not matches(want, got):
                        problems.append("it printed:\n%s\n    the README shows:\n%s"
                                        % ("\n".join(got[:60]), "\n".join(want)))
            if problems:
                failures.append("%s (%s):\n    %s\n    standard error:\n%s"
                                % (where, first, "\n    ".join(problems), err[-3000:]))
                report.append("  FAIL %s  %s" % (where, first))
            else:
                checked = " (output as shown)" if block["output"] is not None or \
                    block["lines"][0].startswith("$ ") else ""
                report.append("  ran  %s  %s  %.1f s%s" % (where, first, took, checked))

        if git:
            left = subprocess.run(["git", "status", "--porcelain", "--untracked-files=all"],
                                  cwd=work, stdout=subprocess.PIPE, check=True).stdout.decode()
            # Everything the copy holds is added (A); anything new or changed shows otherwise.
            left = "\n".join(l for l in left.split("\n") if l and not l.startswith("A  "))
            if left:
                failures.append("the examples left files git does not ignore, or changed one:\n"
                                + left)
        print("The README's blocks, in order:")
        print("\n".join(report))
        if failures:
            print("\nFAIL:\n" + "\n\n".join(failures))
            return 1
        print("PASS: every block that can run here ran as the README says")
        return 0
    finally:
        prefix = os.path.join(tmp, "home", ".wine")
        if os.path.isdir(prefix) and shutil.which("wineserver"):
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        if xvfb is not None:
            xvfb.kill()
            xvfb.wait()
        if os.environ.get("README_TEST_KEEP"):
            print("kept " + tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
