#!/usr/bin/env bash
# Installs Vellmark silently into a throwaway Wine prefix, as a user without
# administrator rights would, runs the installed program, uninstalls it silently, and
# checks at each step what is on disk and in the registry; then installs and removes it
# for the user and, elevated, for all users in turn, and checks its start at sign-in.
#
#   test_install.sh SOURCE_DIR SETUP_EXE VELLMARK_EXE DRIVER_EXE VERSION BASE_PREFIX AREA
#
# The throwaway prefix is AREA/wineprefix: a copy of BASE_PREFIX (the test prefix) when
# that is ready, else a fresh one. Its own wineserver is ended at the end; the prefix is
# kept after a failure, for a look.
set -uo pipefail
source_dir=$1 setup=$2 built_exe=$3 driver=$4 version=$5 base=$6 area=$7
# The Exit button's id, by its name in the program's resource header.
exit_id=$(sed -n 's/^#define IDC_EXIT *\([0-9]*\).*/\1/p' "$source_dir/resources/resource.h")

failures=0
check() {   # check DESCRIPTION COMMAND...: runs the command, counts a failure
  if "${@:2}"; then echo "ok    $1"; else echo "FAIL  $1"; failures=$((failures + 1)); fi
}
stop() { echo "FAIL  $*"; exit 1; }

prefix=$area/wineprefix
rm -rf "$area"
mkdir -p "$area"
if [ -f "$base/.vellmark-ready" ]; then
  # Hard links make the copy instant. Every file that Wine rewrites in place is copied
  # instead, so that nothing done here reaches the test prefix.
  cp -al "$base" "$prefix" || stop "copying the test prefix"
  find "$base" -maxdepth 1 -type f -printf '%f\n' | while read -r f; do
    cp --remove-destination "$base/$f" "$prefix/$f"
  done
  for f in "$base"/drive_c/windows/*.ini; do
    cp --remove-destination "$f" "$prefix/drive_c/windows/"
  done
  export WINEPREFIX=$prefix
else
  . "$source_dir/scripts/testbed.sh"
  testbed_prefix "$area"
fi
# The shortcut must not reach the host's own menus.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[ "$WINEPREFIX" = "$prefix" ] || stop "the prefix is $WINEPREFIX, not $prefix"

app_pid=""
finish() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  wineserver -k </dev/null >/dev/null 2>&1
  if [ "$failures" -eq 0 ]; then rm -rf "$area"; else echo "The prefix is kept: $prefix"; fi
}
trap finish EXIT
# A server of our own before any wine process, so that none holds CTest's output pipe.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

w() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# reg_value KEY NAME: the data of one value as `reg query` prints it; fails when absent.
reg_value() {
  local out
  out=$(w reg query "$1" /v "$2") || return 1
  printf '%s\n' "$out" | awk -v name="$2" '
    { line = $0; sub(/^ +/, "", line) }
    tolower(substr(line, 1, length(name))) == tolower(name) {
      sub(/^[^ ]+ +REG_[A-Z_]+ +/, "", line); print line; found = 1; exit }
    END { exit !found }'
}
key_exists() { w reg query "$1" >/dev/null; }
no_key() { ! key_exists "$1"; }
no_value() { ! reg_value "$1" "$2" >/dev/null; }
equals() { [ "$1" = "$2" ] || { echo "      got \"$1\", expected \"$2\""; return 1; }; }
absent() { [ ! -e "$1" ] || { echo "      still there: $1"; return 1; }; }
# contains FILE TEXT: the file holds TEXT, as 8-bit or as UTF-16 characters.
contains() { tr -d '\0' <"$1" | grep -aqiF "$2"; }
# as_user PROGRAM ARGS...: runs it with the rights its user signed in with, as Windows
# starts the setup (Wine starts every program elevated); returns its exit code.
as_user() {
  local out
  out=$(w "$driver" limited 120 "\"Z:$1\" ${*:2}") || { echo "      $out"; return 255; }
  return "${out#ok }"
}
# opens SECONDS: the installed program's window appears within SECONDS.
opens() { wine "$driver" wait "Vellmark - Inactive" "$1" </dev/null >/dev/null 2>&1; }
stays_shut() { ! opens 5; }

settings='HKCU\SoftWare\Tolvane\Vellmark'
# The same paths under HKCU (the user's) and HKLM (all users').
uninstall_path='Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellmark'
run_path='Software\Microsoft\Windows\CurrentVersion\Run'
uninstall_key="HKCU\\$uninstall_path"
run_key="HKCU\\$run_path"
machine_run_key="HKLM\\$run_path"

# uninstall ROOT: runs the silent uninstall that Apps & features lists under ROOT (HKCU or
# HKLM) and waits for its end. The uninstaller copies itself away and returns at once;
# its copy removes the Apps & features entry last. It takes a second or two, so a refused
# one is given up on well before CTest would end the whole run unclean.
uninstall() {
  local key="$1\\$uninstall_path" quiet exe
  quiet=$(reg_value "$key" QuietUninstallString) || return 1
  exe=${quiet#\"}
  exe=${exe%%\"*}
  # The options follow the quoted program.
  wine "$exe" ${quiet##*\" } </dev/null >/dev/null 2>&1 || return 1
  for _ in $(seq 40); do key_exists "$key" || return 0; sleep 0.5; done
  return 1
}

# Windows asks for administrator rights before it starts a program whose manifest asks
# for more than asInvoker (highestAvailable asks an administrator, the home default).
check "the setup's manifest asks for no elevation" equals \
  "$(grep -ao 'requestedExecutionLevel level="[A-Za-z]*"' "$setup" | sort -u)" 'requestedExecutionLevel level="asInvoker"'

# Settings that let the program open straight to its window (no "Error" boxes for
# missing values, no automatic start); the installer and uninstaller must leave them.
seed_settings() {
  w reg delete "$settings" /f >/dev/null
  w reg add "$settings" /v Warning /t REG_DWORD /d 1000 /f >/dev/null
  w reg add "$settings" /v Seconds /t REG_DWORD /d 30 /f >/dev/null
  w reg add "$settings" /v TimeType /t REG_DWORD /d 1 /f >/dev/null
  w reg add "$settings" /v AutoStart /t REG_SZ /d 0 /f >/dev/null
  w reg add "$settings" /v Disk /t REG_SZ /d 'C:\' /f >/dev/null
  reg_value "$settings" Disk >/dev/null || stop "seeding the settings"
}
seed_settings

# --- install ---------------------------------------------------------------------
# What the machine holds before: the registry where programs are installed for all users
# (Wine keeps its own hardware keys elsewhere in HKLM), and the time after which new files
# count.
machine_software='HKLM\Software'
w reg export "$machine_software" "$area/machine-before.reg" /y >/dev/null || stop "exporting $machine_software"
touch "$area/before-install"
as_user "$setup" /S
check "setup.exe /S with the user's own rights succeeds" equals "$?" 0
w reg export "$machine_software" "$area/machine-after.reg" /y >/dev/null || stop "exporting $machine_software"
check "the per-user install leaves HKLM\\Software alone" cmp -s "$area/machine-before.reg" "$area/machine-after.reg"

localappdata=$(w cmd /c echo %LOCALAPPDATA%)
appdata=$(w cmd /c echo %APPDATA%)
case "$localappdata $appdata" in
  'C:\'*' C:\'*) ;;
  *) stop "reading the user's folders (\"$localappdata\", \"$appdata\")" ;;
esac
# unix_path WINPATH: where a path on drive C: lies in the prefix.
unix_path() { local p=${1#C:}; printf '%s\n' "$prefix/drive_c${p//\\//}"; }
instdir="$localappdata\\Programs\\Vellmark"
instdir_unix=$(unix_path "$instdir")
# The sign-in entry that starts the installed program.
own_entry="\"$instdir\\vellmark.exe\""
shortcut_unix=$(unix_path "$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Vellmark.lnk")
profile_unix=$(unix_path "$(w cmd /c echo %USERPROFILE%)")
check "the per-user install writes no file outside the user's profile" equals \
  "$(find "$prefix/drive_c" -newer "$area/before-install" -not -path "$profile_unix/*" -not -path "$profile_unix")" ""

check "installed per user under the local Programs folder" equals "$(reg_value "$uninstall_key" InstallLocation)" "$instdir"
check "the installed program is the built one" cmp -s "$instdir_unix/vellmark.exe" "$built_exe"
check "the uninstaller is installed" test -f "$instdir_unix/uninstall.exe"
check "the Start-menu shortcut exists" test -f "$shortcut_unix"
check "the shortcut starts the installed program" contains "$shortcut_unix" "$instdir\\vellmark.exe"
check "the program starts at sign-in" equals "$(reg_value "$run_key" Vellmark)" "$own_entry"
check "Apps & features shows the name" equals "$(reg_value "$uninstall_key" DisplayName)" "Vellmark"
check "Apps & features shows the version" equals "$(reg_value "$uninstall_key" DisplayVersion)" "$version"
check "Apps & features uninstalls per user" equals "$(reg_value "$uninstall_key" UninstallString)" "\"$instdir\\uninstall.exe\" /CurrentUser"
quiet=$(reg_value "$uninstall_key" QuietUninstallString)
check "Apps & features has a silent uninstall" equals "$quiet" "\"$instdir\\uninstall.exe\" /CurrentUser /S"
check "the settings survive the install" equals "$(reg_value "$settings" Warning)" "0x3e8"

# --- run the program as sign-in would start it --------------------------------------
signin=$(reg_value "$run_key" Vellmark)
signin=${signin#\"}
wine "${signin%\"}" </dev/null >/dev/null 2>&1 &
app_pid=$!
check "the installed program opens its window" wine "$driver" wait "Vellmark - Inactive" 30
# Installing or uninstalling while it runs must refuse, and say so with its exit code.
as_user "$setup" /S
check "installing over the running program fails" equals "$?" 2
# Run in place (_?=, which takes no quotes; the per-user folder has no spaces), the
# uninstaller waits for its own end and leaves itself behind.
wine "$instdir_unix/uninstall.exe" /CurrentUser /S "_?=$instdir" </dev/null >/dev/null 2>&1
check "uninstalling the running program fails" equals "$?" 2
check "the refused uninstall keeps the program" test -f "$instdir_unix/vellmark.exe"
check "the refused uninstall keeps the Apps & features entry" key_exists "$uninstall_key"
check "its Exit button ends it" wine "$driver" click "Vellmark - Inactive" "$exit_id" gone "Vellmark - Inactive" 15
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
  check "the program ends after Exit" false
else
  wait "$app_pid"
  check "the program ends after Exit with code 0" equals "$?" 0
fi
app_pid=""

# An uninstaller elevated with another account's password finds that account's HKCU,
# which names no install in this folder, and must leave it alone.
w reg add "$uninstall_key" /v InstallLocation /d 'C:\users\admin\AppData\Local\Programs\Vellmark' /f >/dev/null
wine "$instdir_unix/uninstall.exe" /CurrentUser /S "_?=$instdir" </dev/null >/dev/null 2>&1
check "an uninstaller whose HKCU names another install refuses" equals "$?" 2
w reg add "$uninstall_key" /v InstallLocation /d "$instdir" /f >/dev/null

# --- uninstall, as Apps & features does it silently ----------------------------------
check "the silent uninstall runs to its end" uninstall HKCU
check "the Apps & features entry is gone" no_key "$uninstall_key"
check "the installed program is gone" absent "$instdir_unix/vellmark.exe"
check "the uninstaller is gone" absent "$instdir_unix/uninstall.exe"
check "the install folder is gone" absent "$instdir_unix"
check "the Start-menu shortcut is gone" absent "$shortcut_unix"
check "the sign-in start is gone" no_value "$run_key" Vellmark
check "the settings are left alone" equals "$(reg_value "$settings" Warning) $(reg_value "$settings" AutoStart)" "0x3e8 0"

# --- start at sign-in: not before settings exist ------------------------------------
# Started at sign-in with nothing saved, Vellmark would greet every sign-in with a first
# run's "Failed to get ..." boxes.
w reg delete "$settings" /f >/dev/null
as_user "$setup" /S
check "a user who never saved settings is not started at sign-in" no_value "$run_key" Vellmark
as_user "$setup" /S /SignIn
check "/SignIn starts Vellmark at sign-in all the same" equals "$(reg_value "$run_key" Vellmark)" "$own_entry"
as_user "$setup" /S
check "installing again keeps the start at sign-in" equals "$(reg_value "$run_key" Vellmark)" "$own_entry"
seed_settings

# --- both scopes: each install keeps to its own entry, one Vellmark per sign-in -------
# entries: the user's and the machine's sign-in entries, "[HKCU] [HKLM]".
entries() { echo "[$(reg_value "$run_key" Vellmark)] [$(reg_value "$machine_run_key" Vellmark)]"; }
# signs_in: runs the all-users sign-in entry as Windows does at a sign-in.
signs_in() { local entry; entry=$(reg_value "$machine_run_key" Vellmark) && wine "${entry//\"/}" </dev/null >/dev/null 2>&1; }
user_before=$area/user-before.reg user_after=$area/user-after.reg
w reg export HKCU "$user_before" /y >/dev/null || stop "exporting HKCU"
# The elevated setup, as "Run as administrator" gives it: HKCU may be an administrator's.
wine "$setup" /S /CurrentUser </dev/null >/dev/null 2>&1
elevated_own=$?
as_user "$setup" /S /AllUsers
user_all=$?
check "a setup refuses the scope its rights do not serve" equals \
  "$elevated_own $user_all $(key_exists "HKLM\\$uninstall_path" && echo installed)" "2 2 "
wine "$setup" /S /SignIn </dev/null >/dev/null 2>&1
machine_dir=$(reg_value "HKLM\\$uninstall_path" InstallLocation)
check "an elevated setup installs for all users under Program Files" equals "$machine_dir" "$(w cmd /c echo %ProgramW6432%)\\Vellmark"
machine_entry="\"$machine_dir\\vellmark-signin.exe\""
w reg export HKCU "$user_after" /y >/dev/null || stop "exporting HKCU"
check "the elevated setups leave HKCU alone" cmp -s "$user_before" "$user_after"
check "per user, then for all users: each entry stays" equals "$(entries)" "[$own_entry] [$machine_entry]"
signs_in
check "with a start of their own, the all-users entry starts no second Vellmark" stays_shut
w reg add "$run_key" /v Vellmark /t REG_EXPAND_SZ /d '"%LOCALAPPDATA%\Programs\Vellmark\vellmark.exe" /x' /f >/dev/null
signs_in
check "nor with one that names it through a variable and passes an argument" stays_shut
w reg add "$run_key" /v Vellmark /d "$own_entry" /f >/dev/null

cp "$user_after" "$user_before"
check "the all-users uninstall runs to its end" uninstall HKLM
w reg export HKCU "$user_after" /y >/dev/null || stop "exporting HKCU"
check "the all-users uninstall leaves HKCU alone" cmp -s "$user_before" "$user_after"
check "removing the all-users install keeps the user's start" equals "$(entries)" "[$own_entry] []"

wine "$setup" /S /SignIn </dev/null >/dev/null 2>&1
check "the per-user uninstall runs to its end" uninstall HKCU
check "removing the user's install keeps the all-users start" equals "$(entries)" "[] [$machine_entry]"
signs_in
check "without a start of their own, the all-users entry starts Vellmark" opens 30
wine "$driver" click "Vellmark - Inactive" "$exit_id" gone "Vellmark - Inactive" 15 </dev/null >/dev/null 2>&1
as_user "$setup" /S /SignIn
check "for all users, then per user: the user's entry is added" equals "$(entries)" "[$own_entry] [$machine_entry]"

# The user's own sign-in entry under the same name, for a copy of their own.
foreign='"C:\Tools\Vellmark\vellmark.exe"'
w reg add "$run_key" /v Vellmark /d "$foreign" /f >/dev/null
# That copy is not there (any more): its entry must not keep the all-users start away.
signs_in
check "an own entry naming a program that is gone does not stop the all-users start" opens 30
wine "$driver" click "Vellmark - Inactive" "$exit_id" gone "Vellmark - Inactive" 15 </dev/null >/dev/null 2>&1
w reg delete "$settings" /v Disk /f >/dev/null
signs_in
check "a user who never saved a drive is not started by the all-users entry" stays_shut
check "the per-user uninstall runs to its end" uninstall HKCU
check "uninstall leaves a sign-in entry that is not its own" equals "$(reg_value "$run_key" Vellmark)" "$foreign"
# An earlier all-users install's entry started vellmark.exe itself.
w reg add "$machine_run_key" /v Vellmark /d "\"$machine_dir\\vellmark.exe\"" /f >/dev/null
check "the all-users uninstall runs to its end" uninstall HKLM
check "the all-users uninstall takes its sign-in entry, also an earlier install's" no_value "$machine_run_key" Vellmark

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
