#!/usr/bin/env python3
"""Every shell's completer, read as text, offers exactly the options the
program's help lists, each once and never beside one it cannot go with (no
synopsis line holds both); fish describes each as the help does.

Usage: options_test.py PORTSIFT COMPLETIONS_DIR"""
import re
import subprocess
import sys

exe, folder = sys.argv[1:3]
synopsis, _, listed = subprocess.run([exe, "--json", "--help"], capture_output=True, text=True).stderr.partition("\n\n")
described = dict(re.findall(r"^  (--[\w-]+)(?: [A-Z]+)? +(.+)$", listed, re.M))
together = [set(re.findall(r"--[\w-]+", line)) for line in synopsis.splitlines()]
# Refused beside an option: itself again, and each option no synopsis line holds with it.
# --version stands alone: every completer offers it as the first word only.
others = set(described) - {"--version"}
refused = {o: {p for p in others if p == o or not any({o, p} <= line for line in together)} for o in others}


def words(text):
    return set(re.findall(r"--[\w-]+", text))


def bash(text):
    listed = words(re.search(r"for word in ([^;]*); do", text)[1])
    arms = dict((o, words(c)) for o, c in re.findall(r"(--[\w-]+)\) clash=\"([^\"]*)\"", text))
    first = re.search(r'\[ "\$i" -eq 1 \] && options="\$options --version"', text) and {"--version"} or set()
    return listed | first, {o: arms.get(o, {o}) for o in listed}


def zsh(text):
    listed = words(re.search(r"for option in ([^;]*); do", text)[1])
    table = re.search(r"local -A clash=\((.*?)\)\n", text, re.S)[1]
    pairs = dict((o, words(c)) for o, c in re.findall(r"(--[\w-]+) \"?((?:--[\w-]+ ?)+)\"?", table))
    first = words(re.search(r"\(\( i == 2 \)\) && candidates=\(([^)]*)\)", text)[1])
    return listed | first, {o: pairs.get(o, set()) | {o} for o in listed}


def fish(text):
    lines = re.findall(r"^complete -c portsift -n '([^']*)'.* -l ([\w-]+) .*-d '([^']*)'$", text, re.M)
    first = {"--" + o for c, o, _ in lines if "-eq 1" in c}
    excluded = {"--" + o: {"--" + w for w in re.findall(r"-l ([\w-]+)", c)} for c, o, _ in lines if "-eq 1" not in c}
    descriptions = {"--" + o: d for _, o, d in lines if "--" + o in described}
    return set(excluded) | first, excluded, descriptions


def powershell(text):
    listed = words(re.search(r"\$candidates \+= @\(([^)]*)\)", text)[1])
    table = re.search(r"\$clash = @\{(.*?)\}", text, re.S)[1]
    pairs = {o: words(c) for o, c in re.findall(r"'(--[\w-]+)' = (@?\(?[^;}]*)", table)}
    first = words(re.search(r"\$candidates = @\(('-h'[^)]*)\)", text)[1])
    return listed | first, {o: pairs.get(o, set()) | {o} for o in listed}


COMPLETERS = [("portsift.bash", bash), ("_portsift", zsh), ("portsift.fish", fish),
              ("portsift-completion.ps1", powershell)]
failures = []
for name, read in COMPLETERS:
    offered, excluded, *descriptions = read(open(f"{folder}/{name}", encoding="utf-8").read())
    if offered - {"--help"} != set(described):
        failures.append(f"{name} offers {sorted(offered)}, the program has {sorted(described)}")
    for option, want in refused.items():
        if excluded.get(option) != want:
            failures.append(f"{name} leaves {option} out beside {sorted(excluded.get(option, []))}, not {sorted(want)}")
    for option, text in (descriptions[0] if descriptions else {}).items():
        if text != described[option]:
            failures.append(f"{name} describes {option} as {text!r}, the program as {described[option]!r}")
print("\n".join(failures) or f"{len(COMPLETERS)} completers offer the program's {len(described)} options")
sys.exit(1 if failures else 0)
