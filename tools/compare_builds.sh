#!/usr/bin/env bash
# Runs the same command lines with two builds of Quarnel and Tolvinar and
# checks that they behave alike: exit status, standard output, standard
# error (time stamps masked) and every file left in the job's folder (name,
# kind, permission bits, bytes). Meant to show that a restructuring changed
# nothing a user can see.
#
#   tools/compare_builds.sh OLD_BUILD_DIR NEW_BUILD_DIR
#
# Each build dir holds Quarnel, Tolvinar and Jman.doc. Both builds are
# copied in turn to the same place and every case runs in a fresh folder of
# the same name, so paths in messages match without masking. Prints one line
# per case and exits 0 only when every case is the same; on a difference the
# results are kept for a closer look (COMPARE_KEEP=1 keeps them anyway).
# Case command lines are kept quoted and run later by eval, which also
# calls the helpers Q, QA and T: hence SC2016 and SC2317.
# shellcheck disable=SC2016,SC2317
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 OLD_BUILD_DIR NEW_BUILD_DIR" >&2
  exit 2
fi
declare -A build
build[old]=$(cd "$1" && pwd)
build[new]=$(cd "$2" && pwd)
for side in old new; do
  for f in Quarnel Tolvinar Jman.doc; do
    [[ -f ${build[$side]}/$f ]] || { echo "missing ${build[$side]}/$f" >&2; exit 2; }
  done
done

umask 022
export LC_ALL=C.UTF-8
work=$(mktemp -d "${TMPDIR:-/tmp}/quarnel-compare-XXXXXX")
keep=0
trap '[[ $keep == 1 || -n ${COMPARE_KEEP:-} ]] || rm -rf "$work"' EXIT
inputs=$work/in

# Inputs, seeded: Shift_JIS records (code 1-10, date 11-18, signed amount
# with commas and decimals 19-30, then kana), mixed line ends, empty lines,
# NUL bytes, a last line without LF; the same text in UTF-16LE with and
# without the FF FE mark; a few MB of each for the merge cases; sorted runs
# and their lists for Tolvinar by hand.
python3 - "$inputs" <<'EOF'
import os, random, sys
d = sys.argv[1]; os.makedirs(d)
rng = random.Random(20261211)
kana = "アイウエオカキクケコサシスセソ漢字表示データ－～ｱｲｳ日本語"
def put(name, data):
    with open(os.path.join(d, name), "wb") as f: f.write(data)
def amount():
    v = rng.randint(-9999999, 9999999)
    s = f"{abs(v):,}" if rng.random() < 0.5 else str(abs(v))
    if rng.random() < 0.3: s += "." + str(rng.randint(0, 99))
    return (("-" if v < 0 else "+" if rng.random() < 0.2 else "") + s).rjust(12)
def record():
    code = "".join(rng.choice("abcABCxyzXYZ09") for _ in range(rng.randint(2, 10)))
    date = f"{rng.randint(2020, 2026)}{rng.randint(1, 12):02}{rng.randint(1, 28):02}"
    r = rng.random()
    if r < 0.03: return ""                      # empty line
    if r < 0.06: return code                    # ends before most keys
    if r < 0.08: return code.ljust(10) + date[:4] + "\0" + date[4:]
    if r < 0.12:                                # same 16 bytes but for case
        return rng.choice(["customer-record-", "CUSTOMER-RECORD-", "Customer-Record-"]) + code
    name = "".join(rng.choice(kana) for _ in range(rng.randint(0, 8)))
    return code.ljust(10) + date + amount() + " " + name
def narrow(lines, ends):
    return b"".join(l.encode("cp932") + rng.choice(ends) for l in lines)
def wide(lines, ends, bom):
    return (b"\xff\xfe" if bom else b"") + "".join(l + rng.choice(ends) for l in lines).encode("utf-16-le")

recs = [record() for _ in range(3000)]
recs[100] = recs[101] = "abc\rdef"              # a CR inside a line, twice
put("narrow.txt", narrow(recs, [b"\r\n", b"\r\n", b"\n"]) + "末行ABC".encode("cp932"))
words = ["apple", "Apple", "APPLE", "banana", "BaNaNa", "zeta", "Zeta", "_under",
         "[brk", "`tick", "a", "A", "^hat", "~tilde", "123", "Ab1", "aB1"]
put("case.txt", b"".join((rng.choice(words) + rng.choice(["", "x", "X", " y", "-long-tail-zZ"])
                          + rng.choice(["", "-Zulu", "-zulu", "-ZULU"])).encode() + b"\n"
                         for _ in range(2000)))
odd = ["é café", "😀 smile", "\0zero", "ｶﾅ", "Ω omega"]   # outside code page 932 too
wrecs = recs[:1500] + odd
put("wide_bom.txt", wide(wrecs, ["\r\n"], True))
put("wide_nobom.txt", wide(wrecs, ["\n", "\r\n"], False) + "last".encode("utf-16-le"))
big = [record() for _ in range(45000)]
put("big.txt", narrow(big, [b"\n", b"\r\n"]))
put("big_wide.txt", wide(big[:30000], ["\r\n"], True))
put("big_wide_nb.txt", wide(big[:30000], ["\n"], False))
put("empty.txt", b"")
put("long_ok.txt", b"short\r\n" + b"x" * 65535 + b"\r\nalso short\r\n")
put("long.txt", b"short\r\n" + b"x" * 65536 + b"\r\nalso short\r\n")
put("long_wide.txt", wide(["short", "y" * 65536], ["\r\n"], True))

asc = [r.encode("cp932") for r in recs if r and "\0" not in r and "\r" not in r]
def runs(prefix, lines, sort_key, reverse, enc, n=3):
    names = []
    for i in range(n):
        part = sorted(lines[i::n], key=sort_key, reverse=reverse)
        names.append(f"{prefix}{i}.txt")
        put(names[-1], enc(part))
    put(prefix + ".lst", b"".join(x.encode() + b"\r\n" for x in names))
crlf = lambda part: b"".join(l + b"\r\n" for l in part)
runs("run", asc, None, False, crlf)
runs("krun", asc, lambda l: l[:4], True, crlf)
runs("crun", asc, lambda l: l.lower(), False, crlf)
wl = [l.decode("cp932") for l in asc[:600]]
runs("wrun", wl, None, False, lambda p: b"\xff\xfe" + "".join(l + "\r\n" for l in p).encode("utf-16-le"))
runs("nrun", wl, None, False, lambda p: "".join(l + "\r\n" for l in p).encode("utf-16-le"))
put("missing.lst", b"run0.txt\r\nnothere.txt\r\n")
put("empty.lst", b"")
EOF

names=() cmds=()
add() { names+=("$1"); cmds+=("$2"); }
# A merged case twice: as given, and with a Quarnel that has no Tolvinar
# beside it, which must fail at the hand-off, proving that runs were merged.
addm() { add "$1" "$2"; add "$1/no-merger" "${2/Q /QA }"; }

# Inputs without /M are small: their memory budget is their size, never a
# share of the machine's free memory, so the messages do not vary.
add usage                 'Q'
add one-argument          'Q narrow.txt'
add usage-sjis            'LC=C Q'
add narrow-file           'Q narrow.txt out.txt'
add narrow-stdout         'Q narrow.txt stdout'
add narrow-over-existing  'printf "old\n" >out.txt; chmod 640 out.txt; Q narrow.txt out.txt'
add narrow-ignore-case    'Q narrow.txt out.txt /I'
add case-ignore-case      'Q case.txt stdout -i'
add case-exact            'Q case.txt stdout'
add narrow-sjis-messages  "LC=C Q narrow.txt out.txt /I '(1,10)[D]'"
add wide-bom-file         'Q wide_bom.txt out.txt'
add wide-bom-stdout       'Q wide_bom.txt stdout'
add wide-nobom-file       'Q wide_nobom.txt out.txt /W'
add wide-nobom-stdout     'Q wide_nobom.txt stdout /wide'
add wide-ignore-case      'Q wide_bom.txt out.txt /I'
add key-s-asc             "Q narrow.txt out.txt '(1,10)'"
add key-s-desc            "Q narrow.txt out.txt 'key(1,10)attr(D,S)'"
add key-i-asc             "Q narrow.txt out.txt '(19,12)[A;I]'"
add key-i-desc            "Q narrow.txt stdout 'key(19,12)attr(Descending,Integer)'"
add key-z-asc             "Q narrow.txt out.txt 'key(19,12)attr(a,z)'"
add key-z-desc            "Q narrow.txt out.txt '(19,12)[D;Z]'"
add keys-several          "Q narrow.txt out.txt '(11,8)[D]' '(1,10)' '(19,12)[A;I]'"
add keys-ignore-case      "Q narrow.txt out.txt /I '(1,3)(11,4)[D]'"
add long-key-ignore-case  "Q narrow.txt stdout /I '(1,20)' '(17,4)[D;S]'"
add keys-split-words      "Q narrow.txt out.txt 'key(1,' '4)attr(D,' 'S)'"
add keys-braces           "Q narrow.txt out.txt '(1,4)[D]{x}' '(11,8)'"
add bad-key-range-form    "Q narrow.txt out.txt '(2-5,9)'"
add key-past-line-end     "Q case.txt out.txt '(3,20)[D]'"
add wide-keys             "Q wide_bom.txt out.txt '(1,5)[D]' '(19,12)[A;I]'"
add wide-keys-nobom       "Q wide_nobom.txt stdout /W '(11,8)(1,10)[D;S]'"
addm merge-narrow         'Q big.txt out.txt /M 1'
addm merge-stdout         'Q big.txt stdout /M 1'
addm merge-ignore-case    'Q big.txt out.txt /M 1 /I'
addm merge-keys-ignore-case "Q big.txt stdout /M 1 /I '(1,24)[D]'"
addm merge-keys           "Q big.txt out.txt /M 1 '(11,8)[D;S]' '(1,10)[A;S]'"
addm merge-numeric        "Q big.txt out.txt -Mem 1MB '(19,12)[D;I]' '(1,4)[A;Z]'"
addm merge-wide-bom       'Q big_wide.txt out.txt /M 1'
addm merge-wide-nobom     "Q big_wide_nb.txt out.txt /W /M 1 '(1,6)[D]'"
addm merge-wide-stdout    'Q big_wide.txt stdout /M 1'
addm merge-work-folder    'mkdir w; Q big.txt out.txt /M 1 /T w'
add merge-over-existing   'printf "old\n" >out.txt; chmod 600 out.txt; Q big.txt out.txt /M 1 /I'
add merge-closed-pipe     'Q big.txt stdout /M 1 | head -c 100; echo " status ${PIPESTATUS[0]}"'
add work-folder           'mkdir w; Q narrow.txt out.txt /T w'
add work-folder-missing   'Q narrow.txt out.txt /T nodir'
add output-dev-null       'Q narrow.txt /dev/null'
add output-through-link   'ln -s target.txt link.txt; Q narrow.txt link.txt'
add output-no-folder      'Q narrow.txt nodir/out.txt'
add missing-input         'Q nothere.txt out.txt'
add empty-input           'Q empty.txt out.txt'
add input-is-device       'Q /dev/null out.txt'
add input-is-folder       'mkdir d; Q d out.txt'
add same-file             'Q narrow.txt narrow.txt'
add same-file-spelled     'Q narrow.txt ./narrow.txt'
add same-file-hard-link   'ln narrow.txt n2.txt; Q narrow.txt n2.txt'
add failure-keeps-output  'printf "old\n" >out.txt; Q long.txt out.txt'
add line-max-length       'Q long_ok.txt out.txt'
add line-too-long         'Q long.txt out.txt'
add line-too-long-wide    'Q long_wide.txt stdout'
add bad-key-unclosed      "Q narrow.txt out.txt 'key(1,10'"
add bad-key-range         "Q narrow.txt out.txt '(0,5)'"
add bad-key-length        "Q narrow.txt out.txt '(1,65537)'"
add bad-key-no-start      "Q narrow.txt out.txt '(,5)'"
add bad-key-order         "Q narrow.txt out.txt 'key(1,5)attr(Desc,S)'"
add bad-key-type          "Q narrow.txt out.txt '(1,5)[A;Q]'"
add bad-option            'Q narrow.txt out.txt /Q'
add bad-memory-zero       'Q narrow.txt out.txt /M 0'
add bad-memory-text       'Q narrow.txt out.txt /M lots'
add bad-memory-high       'Q narrow.txt out.txt /M 2001'
add memory-no-value       'Q narrow.txt out.txt /M'
add tolvinar-file         'T run.lst out.txt'
add tolvinar-stdout       'T run.lst stdout'
add tolvinar-keys         "T krun.lst out.txt '(1,4)[D]'"
add tolvinar-ignore-case  'T crun.lst stdout /I'
add tolvinar-wide-bom     'T wrun.lst out.txt /Wide'
add tolvinar-wide-nobom   "T nrun.lst stdout '(1,6)' /W"
add tolvinar-over-existing 'printf "old\n" >out.txt; chmod 604 out.txt; T run.lst out.txt'
add tolvinar-usage        'T'
add tolvinar-one-argument 'T run.lst'
add tolvinar-both-wide    'T wrun.lst out.txt /W /Wide'
add tolvinar-empty-key    'T run.lst out.txt ""'
add tolvinar-bad-word     "T run.lst out.txt '(1,4)' /X"
add tolvinar-bad-key      "T run.lst out.txt 'key(1,'"
add tolvinar-missing-run  'printf "old\n" >out.txt; T missing.lst out.txt'
add tolvinar-missing-list 'T nothere.lst out.txt'
add tolvinar-empty-list   'T empty.lst out.txt'

# Copies the inputs a command line names (and the runs a list names).
fetch() {
  local w
  # shellcheck disable=SC2013  # words, not lines, are wanted
  for w in $(grep -oE '[[:alnum:]_.-]+' <<<"$1" | sort -u); do
    [[ -f $inputs/$w && ! -e $w ]] || continue
    cp "$inputs/$w" .
    if [[ $w == *.lst ]]; then fetch "$(cat "$w")"; fi
  done
}

# Every file and folder of the case folder: kind, mode, size, MD5 or link.
manifest() {
  local p
  find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | while IFS= read -r p; do
    if [[ -L $p ]]; then printf '%s\tlink %s\n' "$p" "$(readlink "$p")"
    elif [[ -f $p ]]; then printf '%s\t%s %s\n' "$p" "$(stat -c '%a %s' "$p")" "$(md5sum <"$p" | cut -c1-32)"
    else printf '%s\t%s\n' "$p" "$(stat -c '%F %a' "$p")"; fi
  done
}

run_case() {  # side index
  local res=$work/res/$1/${names[$2]//\//+} case_dir=$work/case bin=$work/bin alone=$work/alone
  rm -rf "$case_dir" && mkdir -p "$case_dir/tmp" "$work/res/$1"
  (
    set +e
    cd "$case_dir" && fetch "${cmds[$2]}"
    go() { env -i PATH="$PATH" LC_ALL="${LC:-C.UTF-8}" TMP="$case_dir/tmp" timeout 60 "$@"; }
    Q() { go "$bin/Quarnel" "$@"; }
    QA() { go "$alone/Quarnel" "$@"; }
    T() { go "$bin/Tolvinar" "$@"; }
    eval "${cmds[$2]}" >"$res.out" 2>"$res.err"
    echo $? >"$res.rc"
    manifest >"$res.files"
  )
  sed -Ei 's#[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}#<time>#g' "$res.err"
}

for side in old new; do
  rm -rf "${work:?}/bin" "$work/alone" && mkdir "$work/bin" "$work/alone"
  cp "${build[$side]}"/{Quarnel,Tolvinar,Jman.doc} "$work/bin/"
  cp "${build[$side]}"/{Quarnel,Jman.doc} "$work/alone/"
  for i in "${!names[@]}"; do run_case "$side" "$i"; done
done

# The first line each side has that the other has not.
first_lines() {
  diff "$1" "$2" | awk '/^</ && !o { o = $0 } /^>/ && !n { n = $0 } END { print o, n }' || true
}

passed=0 failed=0
for i in "${!names[@]}"; do
  o=$work/res/old/${names[$i]//\//+} n=$work/res/new/${names[$i]//\//+} what=()
  rc_old=$(<"$o.rc") rc_new=$(<"$n.rc")
  [[ $rc_old == "$rc_new" ]] || what+=("exit $rc_old/$rc_new")
  [[ $rc_old == 124 || $rc_new == 124 ]] && what+=("timed out")
  cmp -s "$o.out" "$n.out" || what+=("stdout ($(wc -c <"$o.out")/$(wc -c <"$n.out") bytes)")
  cmp -s "$o.err" "$n.err" || what+=("stderr: $(first_lines "$o.err" "$n.err")")
  if ! cmp -s "$o.files" "$n.files"; then
    what+=("files: $(diff "$o.files" "$n.files" | sed -n 's/^[<>] \([^\t]*\)\t.*/\1/p' | sort -u | paste -sd ' ' || true)")
  fi
  if [[ ${names[$i]} == */no-merger ]] &&
     ! { grep -q 'マージプログラム' "$o.err" && grep -q 'マージプログラム' "$n.err"; }; then
    what+=("no merge happened")
  fi
  if [[ ${#what[@]} -eq 0 ]]; then
    echo "same  ${names[$i]}"; passed=$((passed + 1))
  else
    text=$(printf '%s; ' "${what[@]}"); echo "DIFF  ${names[$i]}: ${text%; }"; failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
if [[ $failed -gt 0 ]]; then
  keep=1
  echo "results kept in $work/res/{old,new}/<name>.{rc,out,err,files} ('/' in a name read as '+')"
  exit 1
fi
