#!/usr/bin/env bash
# Checks the Windows installer: what msiinfo reads from it (a per-user
# package that needs no administrator rights, the program, the Start-menu
# entry), then installs it under Wine with msiexec /i and uninstalls it with
# /x, looking at the user's programs folder and Start menu after each.
#
#   test_installer.sh WINE_SH PREFIX MSI ZIP PROGRAM_NAME
set -euo pipefail

wine_sh="$1" prefix="$2" msi="$3" zip="$4" program="$5"
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

# Install and uninstall under Wine, quietly, as the user.
user_dir="$prefix/drive_c/users/$(id -un)"
installed="$user_dir/AppData/Local/Programs/TRB-Kelo7 Updater/$program.exe"
start_menu_entry="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/TRB-Kelo7 Firmware Updater.lnk"
msi_windows_path="Z:$(realpath "$msi" | tr '/' '\\')"

"$wine_sh" run "$prefix" msiexec /i "$msi_windows_path" /qn || fail "msiexec /i failed with status $?"
[ -f "$installed" ] || fail "not installed: $installed"
[ -f "$start_menu_entry" ] || fail "no Start-menu entry: $start_menu_entry"
if [ -f "$installed" ]; then
    cmp -s "$installed" "$(dirname "$msi")/packaging/windows/stage/$program.exe" \
        || fail "the installed program differs from the one packed"
fi

"$wine_sh" run "$prefix" msiexec /x "$msi_windows_path" /qn || fail "msiexec /x failed with status $?"
[ ! -e "$installed" ] || fail "still there after the uninstall: $installed"
[ ! -e "$start_menu_entry" ] || fail "the Start-menu entry is still there after the uninstall"

[ "$failures" -eq 0 ] && echo "installer: all checks passed"
exit $((failures > 0))
