#!/usr/bin/env bash
# Sorts the same generated inputs with the Linux build and with the Windows
# build (under Wine) and compares: output files and standard output must be
# byte-identical, standard error the same up to time stamps and path
# separators (and the Z: drive under which Wine shows the Linux files).
#
#   tools/cross_check.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
#
# Defaults: build-test (the test preset) and build-windows. Both must be
# built already.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
linux=$(cd "${1:-$root/build-test}" && pwd)
windows=$(cd "${2:-$root/build-windows}" && pwd)
work=$(mktemp -d /tmp/quarnel-cross-XXXXXX)
trap 'rm -rf "$work"' EXIT

"$root/tools/wine_run.sh" "$windows" --init

python3 - "$root" "$linux" "$windows" "$work" <<'EOF'
import os, random, re, subprocess, sys

root, linux, windows, work = sys.argv[1:5]
wine = [os.path.join(root, "tools", "wine_run.sh"), windows]

def windows_path(path):
    return "Z:" + path.replace("/", "\\")

rng = random.Random(20261209)
kana = "アイウエオカキクケコサシスセソ漢字表示データ－～ｱｲｳ"
def narrow_line():
    chars = [rng.choice("abcXYZ 019,-") if rng.random() < 0.7 else rng.choice(kana)
             for _ in range(rng.randint(4, 40))]
    return "".join(chars).encode("cp932")

def lines(count):
    return [narrow_line() for _ in range(count)]

small = lines(2000)
big = lines(90000)  # about 2 MB: several runs under /M 1
inputs = {
    "narrow.txt": b"".join(l + (b"\r\n" if i % 3 else b"\n") for i, l in enumerate(small)),
    "big.txt": b"\n".join(big) + b"\n",
    "wide.txt": b"\xff\xfe" + "".join(l.decode("cp932") + "\r\n" for l in small).encode("utf-16-le"),
    "wide_big.txt": "".join(l.decode("cp932") + "\n" for l in big).encode("utf-16-le"),
}
for name, data in inputs.items():
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)

cases = [
    ("narrow", "narrow.txt", []),
    ("ignore-case", "narrow.txt", ["/I"]),
    ("keys", "narrow.txt", ["(3,6)[D;S]", "key(1,2)attr(A,S)"]),
    ("wide", "wide.txt", []),
    ("wide-keys", "wide.txt", ["(2,3)[A;S]"]),
    ("merge", "big.txt", ["/M", "1"]),
    ("merge-keys-case", "big.txt", ["/M", "1", "/I", "(1,4)[D;S]"]),
    ("merge-wide", "wide_big.txt", ["/W", "/M", "1"]),
    ("reverse", "narrow.txt", ["/R"]),
    ("stray-option-word", "narrow.txt", ["--foo", "(3,6)[D;S]"]),
    ("reverse-merge-keys", "big.txt", ["/M", "1", "/I", "-r", "(1,4)[D;S]"]),
    ("reverse-merge-wide", "wide_big.txt", ["/W", "/Reverse", "/M", "1"]),
]

stamp = re.compile(rb"[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")
def normal(err):
    err = stamp.sub(b"<time>", err).replace(b"Z:", b"")
    return err.replace(b"\\", b"/").replace(b"\r\n", b"\n")

failures = 0
for name, source, options in cases:
    for target in ("file", "stdout"):
        results = []
        for system in ("linux", "windows"):
            out = os.path.join(work, f"{name}.out")
            src = os.path.join(work, source)
            tmp = os.path.join(work, "tmp")
            os.makedirs(tmp, exist_ok=True)
            env = dict(os.environ, LC_ALL="C", TMP=tmp)
            if system == "linux":
                argv = [os.path.join(linux, "Quarnel"), src,
                        out if target == "file" else "stdout"] + options
            else:
                env["TMP"] = windows_path(tmp)
                argv = wine + [os.path.join(windows, "Quarnel.exe"), windows_path(src),
                               windows_path(out) if target == "file" else "stdout"] + options
            p = subprocess.run(argv, env=env, capture_output=True, cwd=work)
            data = p.stdout
            if target == "file":
                with open(out, "rb") as f:
                    data = f.read()
                os.remove(out)
            results.append((p.returncode, data, normal(p.stderr)))
            if os.listdir(tmp):
                print(f"{name}/{target}/{system}: work folder not empty: {os.listdir(tmp)}")
                failures += 1
        (lc, lout, lerr), (wc, wout, werr) = results
        # Wine reports the exit code of -1 as 255 too.
        problems = []
        if lc != wc:
            problems.append(f"exit codes {lc} and {wc}")
        if lout != wout:
            problems.append(f"outputs differ ({len(lout)} and {len(wout)} bytes)")
        if lerr != werr:
            problems.append("standard error differs:\n--- linux\n%s\n--- windows\n%s" % (
                lerr.decode("cp932", "replace"), werr.decode("cp932", "replace")))
        if lc != 0:
            problems.append(f"failed with {lc}")
        status = "ok" if not problems else "FAIL " + "; ".join(problems)
        print(f"{name:16} {target:6} {len(lout):9} bytes  {status}")
        failures += bool(problems)

# The lone questions of both programs: the same answer, byte for byte.
for program in ("Quarnel", "Tolvinar"):
    for word in ("--help", "/?", "--version"):
        env = dict(os.environ, LC_ALL="C")
        linux_run = subprocess.run([os.path.join(linux, program), word], env=env,
                                   capture_output=True, cwd=work)
        windows_run = subprocess.run(wine + [os.path.join(windows, program + ".exe"), word],
                                     env=env, capture_output=True, cwd=work)
        same = (linux_run.returncode, linux_run.stdout) == (windows_run.returncode,
                                                           windows_run.stdout)
        good = same and linux_run.returncode == 0 and linux_run.stdout
        print(f"{program + ' ' + word:23} {len(linux_run.stdout):9} bytes  "
              f"{'ok' if good else 'FAIL'}")
        failures += not good
sys.exit(1 if failures else 0)
EOF
