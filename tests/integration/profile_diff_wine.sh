#!/usr/bin/env bash
# Differential test of our profile-file reads (POSIX build) against the system's own
# GetPrivateProfileStringA / GetPrivateProfileIntA, run under Wine, over a table of tricky
# files. Any difference fails. Writes are not compared: Wine rewrites whole files where
# Windows edits in place, so write-backs have their own byte-exact tests.
set -u
ROOT=${VX_SRC:-$(cd "$(dirname "$0")/../.." && pwd)}
WIN=${VX_BUILD_WINDOWS:-$ROOT/build/windows}
LIN=${VX_BUILD_LINUX:-$ROOT/build/linux}
probe_win=$WIN/profile_probe.exe
probe_lin=$LIN/profile_probe_posix
for p in "$probe_win" "$probe_lin"; do
    [ -f "$p" ] || { echo "skip: $p not built"; exit 77; }
done
command -v wine >/dev/null || { echo "skip: wine missing"; exit 77; }

. "$ROOT/scripts/lib/wine-env.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vxprofdiff.XXXXXX")
cleanup() {  # KEEP=1 keeps the files and both outputs for a look
    [ -n "${KEEP:-}" ] || rm -rf "$work"
    vx_wine_prefix_drop
}
trap cleanup EXIT
vx_wine_ensure || { echo "no Wine prefix"; exit 1; }

files=$work/files
mkdir -p "$files"
mk() { printf '%b' "$2" >"$files/$1"; }

# ---- the files ----
mk net.ini '[ Net ]\r\n  Host  =  "  a b  "  \r\n'
mk s.ini '[s]\na=\nb\n'
mk name.ini '[sec]\r\nname1=val1\r\n'
mk int.ini '[i]\r\nm1=-1\r\nhx=0x1F\r\nHX2=0X1F\r\noct=08\r\nsp=- 5\r\nbig=4294967297\r\n'\
'mix=42A9\r\no=0o17\r\nb=0b101\r\nplus=  +12\r\nq="12"\r\nlong=000000000000000000000000000000012\r\n'\
'x0=0x\r\nneghex=-0x10\r\nsign=-\r\npp=++1\r\ne=1e3\r\nhexff=0xff\r\nhexbad=0xG\r\nbin2=0b2\r\n'\
'oct9=0o9\r\nqsp="  9"\r\nctl=\x01\x025\r\nneg=-2147483649\r\nmax=4294967295\r\nlead0=007\r\n'\
'long29=00000000000000000000000000009\r\nlong30=000000000000000000000000000009\r\n'
mk dup.ini '[s]\nk=1\nk=2\n[S]\nk=3\nj=4\n'
mk le.ini '[a]\rx=1\r\r\ny=2\n\n[b]\r\nz=3'
mk nobracket.ini '[abc\nk=v\n[def]\nm=n\n'
mk names.ini '[a]b]\nk=1\n[  sp ace  ]\n  key with space  = v \n[s] junk\nk=2\n'
mk comment.ini '[s]\n; top=1\nk=v ; x\n;c=2\n#h=3\n'
mk case.ini '[GeNeRaL]\nFiLeNaMe=X\n'
mk quote.ini "[q]\na=\"a\"\nb='a'\nc=\"a\nd=\"\ne=\"\"\nf=\"a'\ng=\" a \"\nh='''\ni=\"a\"b\"\nj=' '\n"
mk bin.ini '[s]\r\nk=\x80\xff\x01z\r\n\xe9=accent\r\n'
mk long.ini "[s]\nk=$(printf 'x%.0s' $(seq 1000))\n"
mk empty.ini ''
mk blank.ini '\r\n\r\n\n\r'
mk before.ini 'k=1\n[s]\nk=2\n'
mk tab.ini '\t[ t ]\t\n\tk\t=\tv\t\n'
mk eq.ini '[s]\n=v\nk==x\nm = a = b\n'
mk spaces.ini '   \n[s]\n   \nk=1\n\t\n'
mk zerobyte.ini '[s]\nk=a\0b\nj=1\n[t]\0\nm=2\n'

# ---- the queries: S|file|section|key|default|size   I|file|section|key|default ----
cat >"$work/queries" <<'Q'
S|net.ini|net|HOST|dflt|260
S|net.ini|NET|host|dflt|5
S|net.ini| Net |Host |dflt|260
S|s.ini|s|a|dflt  |260
S|s.ini|s|b|dflt  |260
S|s.ini|s|zz|dflt  |260
S|s.ini|s|zz|  lead|260
S|s.ini|s|zz|dflt\t|260
S|s.ini|s|zz|\N|260
S|s.ini|s|zz||260
S|s.ini|s|zz|dflt|3
S|s.ini|t|a|dflt|260
I|s.ini|s|a|7
I|s.ini|s|b|7
I|s.ini|s|zz|-5
I|s.ini|s|zz|0
S|name.ini|sec|name1|d|5
S|name.ini|sec|name1|d|4
S|name.ini|sec|name1|d|2
S|name.ini|sec|name1|d|1
S|name.ini|sec|name1|d|0
I|int.ini|i|m1|99
I|int.ini|i|hx|99
I|int.ini|i|HX2|99
I|int.ini|i|oct|99
I|int.ini|i|sp|99
I|int.ini|i|big|99
I|int.ini|i|mix|99
I|int.ini|i|o|99
I|int.ini|i|b|99
I|int.ini|i|plus|99
I|int.ini|i|q|99
I|int.ini|i|long|99
I|int.ini|i|x0|99
I|int.ini|i|neghex|99
I|int.ini|i|sign|99
I|int.ini|i|pp|99
I|int.ini|i|e|99
I|int.ini|i|hexff|99
I|int.ini|i|hexbad|99
I|int.ini|i|bin2|99
I|int.ini|i|oct9|99
I|int.ini|i|qsp|99
I|int.ini|i|ctl|99
I|int.ini|i|neg|99
I|int.ini|i|max|99
I|int.ini|i|lead0|99
I|int.ini|i|long29|99
I|int.ini|i|long30|99
I|int.ini|i|missing|-5
S|dup.ini|s|k|d|260
S|dup.ini|S|k|d|260
S|dup.ini|s|j|d|260
I|dup.ini|s|k|9
S|le.ini|a|x|d|260
S|le.ini|a|y|d|260
S|le.ini|b|z|d|260
S|le.ini|a|z|d|260
S|nobracket.ini|abc|k|d|260
S|nobracket.ini|def|m|d|260
S|names.ini|a]b|k|d|260
S|names.ini|sp ace|key with space|d|260
S|names.ini|s|k|d|260
S|comment.ini|s|k|d|260
S|comment.ini|s|;c|d|260
S|comment.ini|s|#h|d|260
S|comment.ini|s|; top|d|260
S|case.ini|general|filename|d|260
S|case.ini|GENERAL|FILENAME|d|260
S|quote.ini|q|a|d|260
S|quote.ini|q|b|d|260
S|quote.ini|q|c|d|260
S|quote.ini|q|d|d|260
S|quote.ini|q|e|d|260
S|quote.ini|q|f|d|260
S|quote.ini|q|g|d|260
S|quote.ini|q|g|d|3
S|quote.ini|q|h|d|260
S|quote.ini|q|i|d|260
S|quote.ini|q|j|d|260
S|bin.ini|s|k|d|260
S|bin.ini|s|\xe9|d|260
S|long.ini|s|k|d|260
S|long.ini|s|k|d|2000
S|empty.ini|s|k|d|260
I|empty.ini|s|k|3
S|blank.ini|s|k|d|260
S|before.ini|s|k|d|260
S|tab.ini|t|k|d|260
S|eq.ini|s|k|d|260
S|eq.ini|s|m|d|260
S|spaces.ini|s|k|d|260
S|zerobyte.ini|s|k|d|260
S|zerobyte.ini|s|j|d|260
S|zerobyte.ini|t|m|d|260
S|nofile.ini|s|k|dflt  |260
I|nofile.ini|s|k|12
Q

# Known answers of the system's functions (Windows-confirmed), checked on the Wine side so a
# probe that answers nothing, or the same wrong thing on both sides, cannot pass.
cat >"$work/expected" <<'E'
S|net.ini|net|HOST|dflt|260 => 7|  a b  |nul
S|s.ini|s|a|dflt  |260 => 0||nul
S|s.ini|s|b|dflt  |260 => 4|dflt|nul
S|s.ini|s|zz|dflt  |260 => 4|dflt|nul
S|name.ini|sec|name1|d|5 => 4|val1|nul
S|name.ini|sec|name1|d|4 => 3|val|nul
S|name.ini|sec|name1|d|1 => 0||nul
S|name.ini|sec|name1|d|0 => 0||untouched
I|int.ini|i|m1|99 => 4294967295
I|int.ini|i|hx|99 => 31
I|int.ini|i|HX2|99 => 0
I|int.ini|i|oct|99 => 8
I|int.ini|i|sp|99 => 0
I|int.ini|i|big|99 => 1
I|int.ini|i|mix|99 => 42
I|int.ini|i|missing|-5 => 4294967291
S|dup.ini|s|k|d|260 => 1|1|nul
S|dup.ini|s|j|d|260 => 1|d|nul
E

winfiles="Z:$(printf '%s' "$files" | tr / '\\')"
vx_wine_run 120 "$probe_win" --batch "$winfiles" <"$work/queries" >"$work/wine.out" 2>"$work/wine.err"
rc_win=$?
"$probe_lin" --batch "$files" <"$work/queries" >"$work/ours.out" 2>"$work/ours.err"
rc_lin=$?

status=0
if [ $rc_win -ne 0 ] || [ $rc_lin -ne 0 ]; then
    echo "probe failed: wine rc=$rc_win, ours rc=$rc_lin"
    tail -5 "$work/wine.err" "$work/ours.err"
    status=1
fi
n_queries=$(grep -cv '^#' "$work/queries")
n_wine=$(wc -l <"$work/wine.out")
if [ "$n_wine" -ne "$n_queries" ]; then
    echo "wine probe answered $n_wine of $n_queries queries"
    status=1
fi
missing=$(grep -Fxvf "$work/wine.out" "$work/expected")
if [ -n "$missing" ]; then
    echo "the system's answers differ from the known ones (probe or table fault):"
    echo "$missing"
    echo "wine said:"
    grep -Ff <(cut -d'=' -f1 "$work/expected" | sed 's/ $//') "$work/wine.out" | head -40
    status=1
fi
if ! diff -u --label "system (wine)" --label "ours" "$work/wine.out" "$work/ours.out"; then
    echo "profile reads differ from the system's (lines above)"
    status=1
fi
[ $status -eq 0 ] && echo "profile reads agree on $n_queries queries"
exit $status
