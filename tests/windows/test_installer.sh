#!/usr/bin/env bash
# Checks the Windows installer: what msiinfo reads from it (a per-user
# package that needs no administrator rights, the program, the Start-menu
# entry), then its life under Wine with msiexec: installed; replaced by a
# newer version made here by the build's own Pack.cmake (with another .exe, the
# demo's, so that the newer program shows), which leaves one entry in the list
# of installed programs; the older refused over the newer with its message; and
# uninstalled without a file, Start-menu entry or registry key of ours left.
#
#   test_installer.sh WINE_SH PREFIX MSI ZIP PROGRAM_NAME VERSION PACK PACK_SETTINGS NEWER_EXE
set -euo pipefail

wine_sh="$1" prefix="$2" msi="$3" zip="$4" program="$5" version="$6" pack="$7" settings="$8" newer_exe="$9"
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_line() # TEXT PATTERN WHAT
{
    grep -qE "$2" <<<"$1" || fail "$3 (looked for /$2/)"
}

# The portable zip: the program, the README and the licence, nothing else.
zip_listing="$(unzip -Z1 "$zip" | sort | tr '\n' ' ')"
[ "$zip_listing" = "LICENSE.txt README.md $program.exe " ] || fail "the zip holds: $zip_listing"

# Word count bit 8 (value 8) of the summary: no elevation needed to install.
summary="$(msiinfo suminfo "$msi")"
source_flags="$(sed -n 's/^Source: \([0-9]*\).*/\1/p' <<<"$summary")"
[ $((source_flags & 8)) -eq 8 ] || fail "the package asks for administrator rights (Source: $source_flags)"
properties="$(msiinfo export "$msi" Property)"
if grep -qE '^ALLUSERS[[:space:]]' <<<"$properties"; then
    fail "the package sets ALLUSERS, which makes a machine-wide install"
fi
expect_line "$(msiinfo export "$msi" File)" "[[:space:]]$program\\.exe[[:space:]]" "the package installs $program.exe"
expect_line "$(msiinfo export "$msi" Shortcut)" "^ProgramShortcut[[:space:]]ProgramMenuFolder[[:space:]].*\\[INSTALLDIR\\]$program\\.exe" \
    "the Start-menu entry starts the program"
expect_line "$(msiinfo export "$msi" Directory)" "^UserProgramsFolder[[:space:]]LocalAppDataFolder[[:space:]]Programs" \
    "the program goes to the user's own programs folder"

# The newer version: the same package with the last part of the version raised.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
newer="${version%.*}.$((${version##*.} + 1))"
make_package() # VERSION PROGRAM_EXE NAME
{
    cmake -DSETTINGS="$settings" -DPROGRAM="$2" -DVERSION="$1" -DSTAGE="$work/$3" \
        -DZIP="$work/$3.zip" -DMSI="$work/$3.msi" -P "$pack" >/dev/null
}
make_package "$newer" "$newer_exe" newer
make_package "$version" "$newer_exe" rebuilt
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v name="$2" '$1 == name { print $2 }'; }
[ "$(property "$msi" ProductCode)" != "$(property "$work/newer.msi" ProductCode)" ] \
    || fail "$version and $newer have the same product code"
[ "$(property "$msi" ProductCode)" = "$(property "$work/rebuilt.msi" ProductCode)" ] \
    || fail "a rebuild of $version has a product code of its own"
[ "$(property "$msi" UpgradeCode)" = "$(property "$work/newer.msi" UpgradeCode)" ] \
    || fail "$version and $newer have different upgrade codes"
expect_line "$(msiinfo export "$msi" LaunchCondition | tr -d '\r')" \
    "^NOT WIX_DOWNGRADE_DETECTED[[:space:]]A newer version of TRB-Kelo7 Firmware Updater is already installed\\.$" \
    "the package refuses to replace a newer version, with its message"

# Under Wine, quietly, as the user.
user_dir="$prefix/drive_c/users/$(id -un)"
install_dir="$user_dir/AppData/Local/Programs/TRB-Kelo7 Updater"
installed="$install_dir/$program.exe"
start_menu_entry="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/TRB-Kelo7 Firmware Updater.lnk"
windows_path() { echo "Z:$(realpath "$1" | tr '/' '\\')"; }
wine_msiexec() # ACTION MSI [MORE...]
{
    local action="$1" package="$2"
    shift 2
    "$wine_sh" run "$prefix" msiexec "$action" "$(windows_path "$package")" /qn "$@"
}
# The versions in the list of installed programs under our name, one a line.
# Windows keeps a per-user install's entry under HKCU, Wine under HKLM: both are read.
listed_versions() {
    local hive
    for hive in HKCU HKLM; do
        "$wine_sh" run "$prefix" reg query "$hive\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2>/dev/null || true
    done | tr -d '\r' | awk '
        function flush() { if (name == "TRB-Kelo7 Firmware Updater") print version; name = version = "" }
        /^HKEY_/ { flush() }
        $1 == "DisplayName" { name = substr($0, index($0, "REG_SZ") + 10) }
        $1 == "DisplayVersion" { version = $3 }
        END { flush() }'
}

# Whatever a run that failed half-way left is removed first.
wine_msiexec /x "$work/newer.msi" >/dev/null 2>&1 || true
wine_msiexec /x "$msi" >/dev/null 2>&1 || true

wine_msiexec /i "$msi" || fail "msiexec /i failed with status $?"
[ -f "$start_menu_entry" ] || fail "no Start-menu entry: $start_menu_entry"
cmp -s "$installed" "$(dirname "$msi")/packaging/windows/stage/$program.exe" \
    || fail "the installed program is not the one packed: $installed"
[ "$(listed_versions)" = "$version" ] || fail "after installing $version the list holds: $(listed_versions)"

wine_msiexec /i "$work/newer.msi" || fail "msiexec /i of $newer failed with status $?"
cmp -s "$installed" "$work/newer/$program.exe" || fail "$newer did not replace the program"
[ -f "$start_menu_entry" ] || fail "no Start-menu entry after the upgrade"
[ "$(listed_versions)" = "$newer" ] || fail "after the upgrade to $newer the list holds: $(listed_versions)"

# The older over the newer: refused at the launch condition that holds the message.
if WINEDEBUG=-all,err+msi wine_msiexec /i "$msi" 2>"$work/downgrade.log"; then
    fail "$version was installed over $newer"
fi
expect_line "$(cat "$work/downgrade.log")" 'action L"LaunchConditions" returned 1603' \
    "the older version is refused by its launch condition"
cmp -s "$installed" "$work/newer/$program.exe" || fail "the refused downgrade changed the program"
[ "$(listed_versions)" = "$newer" ] || fail "after the refused downgrade the list holds: $(listed_versions)"

wine_msiexec /x "$work/newer.msi" || fail "msiexec /x failed with status $?"
[ ! -e "$install_dir" ] || fail "still there after the uninstall: $(find "$install_dir" | tr '\n' ' ')"
[ ! -e "$start_menu_entry" ] || fail "the Start-menu entry is still there after the uninstall"
[ -z "$(listed_versions)" ] || fail "still listed after the uninstall: $(listed_versions)"
if "$wine_sh" run "$prefix" reg query 'HKCU\Software\TRB' >/dev/null 2>&1; then
    fail "the registry key of ours is still there after the uninstall"
fi
for code in "$(property "$msi" ProductCode)" "$(property "$work/newer.msi" ProductCode)"; do
    [ ! -e "$user_dir/AppData/Roaming/Microsoft/Installer/$code" ] || fail "the installer's cache of $code is still there"
done

[ "$failures" -eq 0 ] && echo "installer: all checks passed"
exit $((failures > 0))
