#!/bin/sh
# Shows Vesk.x64.dll at work in Explorer's place, under Wine: installs it
# with the stand-in main application as Vesk.exe, registers it with Wine's
# regsvr32, writes a sample watch list, prints the context menu of files
# inside a watch's source, inside its destination and elsewhere (VeskHost),
# photographing each open menu, then invokes the backup command on two
# files and shows what Vesk.exe, started by the extension, received.
# Usage: tools/demo.sh [build-dir]   (as root or with sudo; build-dir is
# build, as for the tests, and a second run reuses it and the prefix)
set -eu
cd "$(dirname "$0")/.."
. tools/common.sh

# The demo's own needs beyond the build's: the photos of the menus and a
# font for their Japanese captions.
DEMO_PACKAGES="imagemagick fonts-ipafont-gothic"

# echo would turn the \r of C:\users\root into a carriage return.
line() { printf '%s\n' "$*"; }

if [ "${1:-}" != --in-display ]; then
    BUILD=${1:-build}
    install_packages $DEMO_PACKAGES
    configure_and_build "$BUILD"
    say "Starting a virtual X display"
    # A prefix of the demo's own: the tests' prefix stays as they left it.
    run_in_display "$BUILD/demo-prefix" sh tools/demo.sh --in-display "$BUILD"
    say "Demo passed"
    line "Photos of the open menus:"
    for photo in "$(cd "$BUILD" && pwd)"/demo/menu-*.png; do line "  $photo"; done
    exit 0
fi
BUILD=$2

CLASS_ID='{4A9340A6-ABD2-4183-88F6-CBB4095CC27D}'
HOST=$BUILD/bin/VeskHost.exe
OUT=$BUILD/demo                      # photos and the record, Linux side
INSTALL_W='C:\Program Files\Vesk'
DEMO_W='C:\VeskDemo'
SOURCE_W="$DEMO_W\\Documents"
DEST_W="$DEMO_W\\Backup"
OTHER_W="$DEMO_W\\Elsewhere"
RECORD_W="$DEMO_W\\standin-record.txt"

fail() {
    printf 'demo: FAILED: %s\n' "$*" >&2
    exit 1
}

# Linux path of a Windows path in the prefix.
unix_path() { winepath -u "$1" 2>/dev/null; }

# Default value (or the named value) of a key, as Wine's reg.exe reads it.
reg_value() {
    if [ $# -gt 1 ]; then
        wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_SZ *//p"
    else
        wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'
    fi
}

# Checks a registry value against what registration must have written.
expect_value() {
    expected=$1
    shift
    actual=$(reg_value "$@")
    [ "$actual" = "$expected" ] ||
        fail "registry: $1 ${2:-(default)} is '$actual', expected '$expected'"
    printf '  %s%s = %s\n' "$1" "${2:+ [$2]}" "$actual"
}

# Prints the menu VeskHost builds for a selection, checks the states of
# the two commands and photographs the open menu: the whole screen while
# the menu is open, then cut down to the rectangle VeskHost reports for it,
# with a margin.
show_menu() {
    backup_state=$1 restore_state=$2 photo=$3
    shift 3
    log="$OUT/host.txt"
    screen="$OUT/screen.png"
    rm -f "$screen"
    rc=0
    wine "$HOST" --show-for 2500 "$@" >"$log" 2>&1 &
    pid=$!
    sleep 1.5
    import -window root "$screen" || true
    wait $pid || rc=$?
    cat "$log"
    [ $rc -eq 0 ] || fail "VeskHost exited with $rc"
    grep -q "id 2  $backup_state " "$log" || fail "backup is not $backup_state"
    grep -q "id 3  $restore_state " "$log" || fail "restore is not $restore_state"
    line "-> backup $backup_state, restore $restore_state, as expected"
    [ -f "$screen" ] || fail "no photo of the screen"
    geometry=$(sed -n 's/^Menu on screen: \([0-9]*x[0-9]*+[0-9]*+[0-9]*\)$/\1/p' "$log")
    [ -n "$geometry" ] || fail "VeskHost did not say where the menu was"
    crop=$(printf '%s\n' "$geometry" | awk -F'[x+]' -v m=12 '{
        x = $3 - m; y = $4 - m; if (x < 0) x = 0; if (y < 0) y = 0
        printf "%dx%d+%d+%d", $1 + $3 - x + m, $2 + $4 - y + m, x, y }')
    convert "$screen" -crop "$crop" +repage "$OUT/$photo"
    rm -f "$screen"
    line "(photo of the open menu, $geometry on the screen: $OUT/$photo)"
}

# The text of a recorded execute: hex bytes back to lines, CR LF and the
# closing NUL shown.
decode_execute() {
    perl -ne '
        next unless /^execute topic=(\S+) format=(\d+) bytes=([0-9A-F]*)/;
        my ($topic, $format, $data) = ($1, $2, pack("H*", $3));
        printf "  execute on %s, %d bytes (format %s at the server%s):\n", $topic, length $data,
            $format, $format ? "" : ": an execute carries none";
        for my $line (split /(?<=\r\n)/, $data) {
            (my $shown = $line) =~ s/\r\n$/<CR><LF>/;
            $shown =~ s/\0/<NUL>/g;
            print "    | $shown\n";
        }' "$1"
}

# Hex of the text the extension must send: every path followed by CR LF,
# then one NUL byte.
expected_hex() {
    perl -e 'print uc unpack("H*", join("", map { "$_\r\n" } @ARGV) . "\0")' "$@"
}

# Waits up to $2 seconds for a line matching $1 in the record.
wait_for_record() {
    i=0
    while [ $i -lt $(($2 * 10)) ]; do
        if [ -f "$RECORD" ] && tr -d '\r' <"$RECORD" | grep -q "$1"; then return 0; fi
        sleep 0.1
        i=$((i + 1))
    done
    return 1
}

mkdir -p "$OUT"
rm -f "$OUT"/*.png

say "Installing the module and the stand-in main application as Vesk.exe in $INSTALL_W"
INSTALL=$(unix_path "$INSTALL_W")
[ -n "$INSTALL" ] || fail "winepath cannot map $INSTALL_W"
mkdir -p "$INSTALL"
cp "$BUILD"/bin/Vesk.x64.dll "$INSTALL/Vesk.x64.dll"
cp "$BUILD"/bin/VeskStandIn.exe "$INSTALL/Vesk.exe"
for file in "$INSTALL"/*; do line "  $INSTALL_W\\${file##*/}"; done

say "Registering for the current user: wine regsvr32 /s \"$INSTALL_W\\Vesk.x64.dll\""
rc=0
wine regsvr32 /s "$INSTALL_W\\Vesk.x64.dll" || rc=$?
[ $rc -eq 0 ] || fail "regsvr32 exited with $rc"
line "regsvr32 succeeded; reading the registry back:"
expect_value "$CLASS_ID" 'HKCU\Software\Classes\*\shellex\ContextMenuHandlers\Vesk64'
expect_value "$CLASS_ID" 'HKCU\Software\Classes\Directory\shellex\ContextMenuHandlers\Vesk64'
expect_value Vesk "HKCU\\Software\\Classes\\CLSID\\$CLASS_ID"
expect_value "$INSTALL_W\\Vesk.x64.dll" "HKCU\\Software\\Classes\\CLSID\\$CLASS_ID\\InprocServer32"
expect_value Apartment "HKCU\\Software\\Classes\\CLSID\\$CLASS_ID\\InprocServer32" ThreadingModel
line "-> the registration is as expected"

say "Writing a sample watch list and sample files"
APPDATA_W=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
APPDATA=$(unix_path "$APPDATA_W")
[ -n "$APPDATA" ] || fail "no application-data folder in the prefix"
DEMO=$(unix_path "$DEMO_W")
rm -rf "$DEMO"
mkdir -p "$APPDATA/Harrowfen/Vesk" "$DEMO/Documents" "$DEMO/Backup" "$DEMO/Elsewhere"
printf '[Documents]\r\nSource=%s\r\nDest=%s\r\nAttribute=D\r\n' "$SOURCE_W" "$DEST_W" \
    >"$APPDATA/Harrowfen/Vesk/Watches.ini"
printf 'Quarterly report\r\n' >"$DEMO/Documents/report.txt"
printf 'Meeting notes\r\n' >"$DEMO/Documents/notes.txt"
printf 'Quarterly report (backed up)\r\n' >"$DEMO/Backup/report.txt"
printf 'Not watched\r\n' >"$DEMO/Elsewhere/todo.txt"
line "$APPDATA_W\\Harrowfen\\Vesk\\Watches.ini:"
tr -d '\r' <"$APPDATA/Harrowfen/Vesk/Watches.ini" | sed 's/^/  /'
line "Sample files:"
for file in Documents/report.txt Documents/notes.txt Backup/report.txt Elsewhere/todo.txt; do
    line "  $DEMO_W\\$file" | tr / '\\'
done

# The menu font has no Japanese letters: Wine takes them from IPAGothic.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f >/dev/null 2>&1 ||
    fail "cannot link a Japanese font to the menu font"

say "Menu of a file inside the watch's source: both commands enabled"
show_menu enabled enabled menu-source.png "$SOURCE_W\\report.txt"

say "Menu of a file inside the watch's destination: restore only"
show_menu grayed enabled menu-destination.png "$DEST_W\\report.txt"

say "Menu of a file outside every watch: both commands grayed"
show_menu grayed grayed menu-elsewhere.png "$OTHER_W\\todo.txt"

say "Making sure Vesk.exe is not running"
# Wine's tasklist lists nothing; taskkill tells whether the process was there.
if wine taskkill /f /im Vesk.exe >/dev/null 2>&1; then
    line "Vesk.exe was running: ended it"
    sleep 1
fi
if wine taskkill /f /im Vesk.exe >/dev/null 2>&1; then fail "Vesk.exe keeps running"; fi
line "Vesk.exe is not running"

say "Backup of two files inside the source: the extension starts Vesk.exe and hands them over"
RECORD=$(unix_path "$RECORD_W")
rm -f "$RECORD"
export VESK_STANDIN_RECORD="$RECORD_W"
rc=0
wine "$HOST" --invoke backup --close-boxes 5000 "$SOURCE_W\\report.txt" "$SOURCE_W\\notes.txt" ||
    rc=$?
[ $rc -eq 0 ] || fail "VeskHost exited with $rc"

say "What Vesk.exe received"
wait_for_record '^execute topic=DdeBackupConv ' 30 ||
    fail "Vesk.exe recorded no execute on DdeBackupConv within 30 s"
tr -d '\r' <"$RECORD" >"$OUT/record.txt"
sed -n 's/^start pid=[0-9]* /  started by the extension: /p' "$OUT/record.txt"
sed -n 's/^\(connect topic=.*\)/  \1/p' "$OUT/record.txt"
decode_execute "$OUT/record.txt"
grep -q '^start .*Program Files\\Vesk\\Vesk\.exe' "$OUT/record.txt" ||
    fail "Vesk.exe was not started from $INSTALL_W"
want=$(expected_hex "$SOURCE_W\\report.txt" "$SOURCE_W\\notes.txt")
grep -q "^execute topic=DdeBackupConv format=[0-9]* bytes=$want\$" "$OUT/record.txt" ||
    fail "the execute data are not the two paths, each with CR LF, and a NUL"
line "-> both paths arrived, one per line"

say "Closing Vesk.exe"
wine taskkill /im Vesk.exe >/dev/null 2>&1 || true
if wait_for_record '^exit' 15; then
    line "Vesk.exe closed"
else
    wine taskkill /f /im Vesk.exe >/dev/null 2>&1 || true
    line "Vesk.exe did not close by itself; ended it"
fi
