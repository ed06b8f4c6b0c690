#!/usr/bin/env bash
# Makes the release packages with CPack from the native and Windows builds
# (both must be built already) and tries them the way a user would:
#   - the .deb: lintian, its dependencies and content, its binary unpacked
#     into a scratch root and run on the bundled example, its manual pages,
#     trelvik-git installed as the hook of a new repository;
#   - the ZIP: its content, the DLLs its programs need, its trelvik.exe run
#     under Wine on the same example;
#   - `cmake --install` of both builds.
# Prints PASS or FAIL per check and exits non-zero when any check failed.
# The packages are left in build/packages.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
source_dir=$PWD
native_build=$source_dir/build/native
windows_build=$source_dir/build/windows
package_dir=$source_dir/build/packages

passed=0
failed=0
pass() {
  printf 'PASS: %s\n' "$1"
  passed=$((passed + 1))
}
# fail NAME [DETAILS]: DETAILS are shown indented below the verdict.
fail() {
  printf 'FAIL: %s\n' "$1"
  if [[ -n ${2:-} ]]; then printf '%s\n' "$2" | sed 's/^/      /'; fi
  failed=$((failed + 1))
}
finish() {
  echo "package checks: $passed passed, $failed failed"
  ((failed == 0))
  exit
}

# --- What the checks need -----------------------------------------------------

source scripts/lib/setup.sh
need_packages cmake dpkg dpkg-dev file groff-base man-db unzip gzip binutils-mingw-w64-x86-64 \
  wine64 lintian git
prepare_wine

unbuilt=()
[[ -x $native_build/trelvik && -x $native_build/trelvik-git && -f $native_build/CPackConfig.cmake ]] || unbuilt+=(native)
[[ -f $windows_build/trelvik.exe && -f $windows_build/CPackConfig.cmake ]] || unbuilt+=(windows)
if ((${#unbuilt[@]})); then
  for preset in "${unbuilt[@]}"; do
    fail "build/$preset is built" \
      "run: cmake --preset $preset && cmake --build --preset $preset -j2"
  done
  finish
fi
pass "native and Windows builds present"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The version every package must carry is the one the usage banner prints.
banner=$("$native_build/trelvik" -h | head -n 1)
version=${banner#Trelvik version }
if [[ $banner == "Trelvik version "* && -n $version ]]; then
  pass "usage banner names the version ($version)"
else
  fail "usage banner names the version" "first line of trelvik -h: '$banner'"
  finish
fi

# --- The example, as scripts/example.sh runs it ----------------------------------

example_args=(-s -e '**/*.java' '**/*.c' '**/*.h' -x '**/test/**' -i examples/commit.txt)
cat >"$scratch/expected.out" <<'EOF'
Trelvik example: a commit of four files
Skipping '\project\src\test\java\com\example\GreetingTest.java'
trelvik-stylecheck: 3 files checked, 2 faults
EOF
cat >"$scratch/expected.err" <<'EOF'
project/src/main/java/com/example/Greeting.java:7: tab character
project/src/main/java/com/example/Greeting.java:7: trailing blank
EOF

# The program's -h as a user sees it: the banner's version first, exit code 1.
check_banner() { # label version command...
  local label=$1 version=$2 first status=0
  shift 2
  first=$("$@" -h 2>/dev/null | head -n 1 | tr -d '\r') || true
  "$@" -h >/dev/null 2>&1 || status=$?
  if [[ $first == "Trelvik version $version" && $status == 1 ]]; then
    pass "$label: -h prints 'Trelvik version $version', exit code 1"
  else
    fail "$label version" "first line '$first', exit code $status"
  fi
}

# check_example NAME OUT ERR STATUS TEMP_FOLDER: the report, the exit code 1,
# and nothing left behind in TEMP. OUT and ERR are already normalised.
check_example() {
  local name=$1 out=$2 err=$3 status=$4 temp=$5 problems=""
  diff -u "$scratch/expected.out" "$out" >"$scratch/diff" || problems+="standard output:
$(cat "$scratch/diff")
"
  diff -u "$scratch/expected.err" "$err" >"$scratch/diff" || problems+="standard error:
$(cat "$scratch/diff")
"
  ((status == 1)) || problems+="exit code $status, expected 1
"
  if [[ -n $(ls -A "$temp") ]]; then
    problems+="left in TEMP: $(find "$temp" -mindepth 1 -printf '%P ')
"
  fi
  if [[ -z $problems ]]; then pass "$name"; else fail "$name" "$problems"; fi
}

# --- Making the packages ---------------------------------------------------------

rm -rf "$package_dir"
mkdir -p "$package_dir"
deb_arch=$(dpkg --print-architecture)
deb=$package_dir/trelvik_${version}_${deb_arch}.deb
zip=$package_dir/trelvik-${version}-win64.zip
for build in "$native_build" "$windows_build"; do
  if ! cpack --config "$build/CPackConfig.cmake" -B "$package_dir" >"$scratch/cpack.log" 2>&1; then
    fail "cpack for ${build#"$source_dir"/}" "$(tail -n 20 "$scratch/cpack.log")"
  fi
done
rm -rf "$package_dir/_CPack_Packages"
for package in "$deb" "$zip"; do
  if [[ -f $package ]]; then
    pass "package made: ${package#"$source_dir"/}"
  else
    fail "package made: ${package#"$source_dir"/}" "found: $(ls "$package_dir")"
  fi
done

# Files every package holds below its documentation folder: the texts and the
# example commit with its workspace and checker source, as in the sources.
example_files() {
  (cd "$source_dir" && find examples/commit.txt examples/workspace examples/checker -type f) |
    sed "s|^|$1|"
  printf '%s\n' "${1}README.md" "${1}TRIGGER.txt"
}

# compare_listing NAME EXPECTED ACTUAL: both are file lists, one per line.
compare_listing() {
  local differences
  differences=$(diff <(sort -u "$2") <(sort -u "$3") | grep '^[<>]' |
    sed 's/^</missing:/; s/^>/unexpected:/')
  if [[ -z $differences ]]; then pass "$1"; else fail "$1" "$differences"; fi
}

# --- The Linux package -----------------------------------------------------------

check_deb() {
  declare -A control
  for field in Version Depends; do
    control[$field]=$(dpkg-deb -f "$deb" "$field")
  done
  # Control fields, owners and modes, stripped binaries, the change log and
  # the manual page's formatting: Debian's own checker, errors and warnings.
  if lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1; then
    pass "deb: lintian finds no error or warning"
  else
    fail "deb: lintian" "$(grep -v 'root privileges' "$scratch/lintian.log")"
  fi

  # The dependencies must be what dpkg-shlibdeps computes from the packaged
  # binaries themselves, not a list written by hand.
  local root=$scratch/deb-root
  dpkg-deb -x "$deb" "$root"
  mkdir -p "$scratch/shlibdeps/debian"
  touch "$scratch/shlibdeps/debian/control"
  local computed
  computed=$(cd "$scratch/shlibdeps" && dpkg-shlibdeps -O \
    "$root/usr/bin/trelvik" "$root/usr/bin/trelvik-git" "$root/usr/lib/trelvik/trelvik-stylecheck" 2>"$scratch/shlibdeps.err" |
    sed -n 's/^shlibs:Depends=//p')
  if [[ -n $computed && ${control[Depends]} == "$computed" ]]; then
    pass "deb Depends computed by dpkg-shlibdeps: ${control[Depends]}"
  else
    fail "deb Depends computed by dpkg-shlibdeps" "Depends: '${control[Depends]}'
dpkg-shlibdeps: '$computed' $(cat "$scratch/shlibdeps.err")"
  fi

  # Content: exactly the expected files.
  dpkg-deb -c "$deb" >"$scratch/deb.contents"
  awk '$1 !~ /^d/ { print substr($6, 3) }' "$scratch/deb.contents" >"$scratch/deb.files"
  {
    printf '%s\n' usr/bin/trelvik usr/bin/trelvik-git usr/lib/trelvik/trelvik-stylecheck \
      usr/share/man/man1/trelvik.1.gz usr/share/man/man1/trelvik-git.1.gz \
      usr/share/doc/trelvik/copyright usr/share/doc/trelvik/changelog.gz \
      usr/share/doc/trelvik/examples/git/.trelvik usr/share/lintian/overrides/trelvik
    example_files usr/share/doc/trelvik/
  } >"$scratch/deb.expected"
  compare_listing "deb content" "$scratch/deb.expected" "$scratch/deb.files"
  # The packaged binary as a user runs it.
  check_banner "deb binary" "${control[Version]}" "$root/usr/bin/trelvik"
  local status=0

  local temp=$scratch/deb-temp
  mkdir -p "$temp"
  status=0
  (cd "$root/usr/share/doc/trelvik" &&
    TEMP=$temp PATH="$root/usr/lib/trelvik:$PATH" "$root/usr/bin/trelvik" "${example_args[@]}") \
    >"$scratch/deb.out" 2>"$scratch/deb.err" || status=$?
  check_example "deb example run with the packaged checker" "$scratch/deb.out" \
    "$scratch/deb.err" "$status" "$temp"

  # With -d the log lands in TEMP and holds the stripped report; the staging
  # folder is gone.
  status=0
  (cd "$root/usr/share/doc/trelvik" &&
    TEMP=$temp PATH="$root/usr/lib/trelvik:$PATH" "$root/usr/bin/trelvik" -d "${example_args[@]}") \
    >"$scratch/dump.out" 2>/dev/null || status=$?
  local logs
  logs=$(cd "$temp" && ls -A)
  sort "$scratch/expected.err" <(tail -n 1 "$scratch/expected.out") >"$scratch/dump.expected"
  if [[ $status == 1 && $logs =~ ^tvk[0-9]+\.log$ ]] &&
    grep -qxF "writing log to '$temp\\$logs'" "$scratch/dump.out" &&
    diff -q "$scratch/dump.expected" <(sort "$temp/$logs") >/dev/null; then
    pass "deb example run with -d: the stripped report in TEMP/tvk<pid>.log, nothing else left"
  else
    fail "deb example run with -d" "exit code $status; TEMP holds: $logs
$(cat "$scratch/dump.out")"
  fi

  check_manual "$root/usr/share/man/man1/trelvik.1.gz" "${control[Version]}" "$root/usr/bin/trelvik"
  check_git_manual "$root/usr/share/man/man1/trelvik-git.1.gz" "${control[Version]}"
  check_deb_git "$root"
}

# check_deb_git ROOT: the packaged trelvik-git as the pre-commit hook of a new
# repository with the sample .trelvik: a commit with a fault is blocked with
# the checker's report, the fixed one goes through, TEMP stays empty.
check_deb_git() {
  local root=$1 repo=$scratch/git-repo temp=$scratch/git-temp problems=""
  mkdir -p "$repo" "$temp"
  local as_user=(env TEMP="$temp" PATH="$root/usr/bin:$root/usr/lib/trelvik:$PATH" HOME="$scratch"
    GIT_CONFIG_NOSYSTEM=1 GIT_AUTHOR_NAME=t GIT_AUTHOR_EMAIL=t@t GIT_COMMITTER_NAME=t
    GIT_COMMITTER_EMAIL=t@t)
  (cd "$repo" && "${as_user[@]}" git init -q && cp "$root/usr/share/doc/trelvik/examples/git/.trelvik" . &&
    "${as_user[@]}" trelvik-git install && printf 'int a;\t\n' >a.c && git add .) \
    >"$scratch/git.out" 2>&1 || problems+="setup: $(cat "$scratch/git.out")
"
  if (cd "$repo" && "${as_user[@]}" git commit -qm c) >"$scratch/git.out" 2>&1; then
    problems+="a commit with a tab went through
"
  fi
  grep -q '^a.c:1: tab character$' "$scratch/git.out" || problems+="report: $(cat "$scratch/git.out")
"
  (cd "$repo" && printf 'int a;\n' >a.c && git add a.c && "${as_user[@]}" git commit -qm c) \
    >"$scratch/git.out" 2>&1 || problems+="the fixed commit was blocked: $(cat "$scratch/git.out")
"
  [[ -z $(ls -A "$temp") ]] || problems+="left in TEMP: $(ls -A "$temp")
"
  if [[ -z $problems ]]; then
    pass "deb trelvik-git: the installed hook blocks a faulty commit and lets the fixed one through"
  else
    fail "deb trelvik-git as the hook of a new repository" "$problems"
  fi
}

# check_git_manual PAGE_GZ VERSION: renders cleanly at 80 columns, with its
# sections, the version in the footer and every key of .trelvik.
check_git_manual() {
  local text=$scratch/trelvik-git.txt problems="" section key
  gzip -dc "$1" >"$scratch/trelvik-git.1" || problems+="$1 is not gzipped
"
  LC_ALL=C MANWIDTH=80 man -l "$scratch/trelvik-git.1" >"$text" 2>"$scratch/man.err"
  [[ -s $scratch/man.err ]] && problems+="man -l: $(cat "$scratch/man.err")
"
  for section in NAME SYNOPSIS DESCRIPTION COMMANDS CONFIGURATION 'EXIT STATUS' ENVIRONMENT \
    FILES EXAMPLES 'SEE ALSO'; do
    grep -qx "$section" "$text" || problems+="no section $section
"
  done
  awk 'length > 80 { print "line longer than 80 columns: " $0 }' "$text" >"$scratch/wide"
  [[ -s $scratch/wide ]] && problems+="$(cat "$scratch/wide")
"
  tail -n 1 "$text" | grep -q "trelvik $2 " || problems+="footer does not name version $2
"
  for key in command include exclude context ignore-case strip stderr-fails stdout-fails dump parallel staging; do
    grep -qE "(^ +|, )$key(,| {2}|\$)" "$text" || problems+="key $key not described
"
  done
  if [[ -z $problems ]]; then
    pass "manual page trelvik-git(1): renders cleanly at 80 columns, every section and key"
  else
    fail "manual page trelvik-git(1)" "$problems"
  fi
}

# check_manual PAGE_GZ VERSION BINARY
check_manual() {
  local page=$scratch/trelvik.1 problems=""
  if ! gzip -dc "$1" >"$page" 2>/dev/null; then
    fail "manual page" "$1 is not gzipped"
    return
  fi

  local text=$scratch/trelvik.txt
  LC_ALL=C MANWIDTH=80 man -l "$page" >"$text" 2>"$scratch/man.err"
  [[ -s $scratch/man.err ]] && problems+="man -l: $(cat "$scratch/man.err")
"
  local section
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS 'INPUT PROTOCOL' 'EXIT STATUS' \
    ENVIRONMENT FILES EXAMPLES; do
    grep -qx "$section" "$text" || problems+="no section $section
"
  done
  awk 'length > 80 { print "line longer than 80 columns: " $0 }' "$text" >"$scratch/wide"
  [[ -s $scratch/wide ]] && problems+="$(cat "$scratch/wide")
"
  tail -n 1 "$text" | grep -q "trelvik $2 " || problems+="footer does not name version $2
"
  # Every option of the usage text is described, and every exit code.
  local short long
  while IFS=$'\t' read -r short long; do
    grep -qE "^ +$short, $long( |\$)" "$text" || problems+="option $short, $long not described
"
  done < <("$3" -h | sed -nE 's/^  (-[a-z])  (--[a-z-]+)\t.*/\1\t\2/p')
  local code
  for code in 0 1 2 3 4 5 6; do
    sed -n '/^EXIT STATUS$/,/^ENVIRONMENT$/p' "$text" | grep -qE "^ +$code +[A-Za-z(-]" ||
      problems+="exit code $code not described
"
  done
  grep -q 'TMPDIR' "$text" || problems+="TMPDIR fallback not described
"
  if [[ -z $problems ]]; then
    pass "manual page: man -l renders cleanly at 80 columns, every section, option and exit code"
  else
    fail "manual page: man -l" "$problems"
  fi
}

[[ -f $deb ]] && check_deb

# --- The Windows package ---------------------------------------------------------

# A host path as Windows programs under Wine see it.
wine_path() { printf 'Z:%s' "${1//\//\\}"; }

check_zip() {
  local top=trelvik-${version}-win64
  unzip -Z1 "$zip" | grep -v '/$' >"$scratch/zip.files"
  {
    printf '%s\n' "$top/trelvik.exe" "$top/trelvik-stylecheck.exe"
    example_files "$top/"
  } >"$scratch/zip.expected"
  compare_listing "zip content" "$scratch/zip.expected" "$scratch/zip.files"

  local unpacked=$scratch/zip
  unzip -q "$zip" -d "$unpacked"
  local folder=$unpacked/$top

  # Only DLLs that every Windows has: the build links the runtimes statically.
  local exe dlls foreign=""
  for exe in trelvik.exe trelvik-stylecheck.exe; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$folder/$exe" 2>/dev/null | sed -n 's/^\s*DLL Name: //p')
    [[ -n $dlls ]] || foreign+="$exe: no import table found
"
    while read -r dll; do
      [[ -z $dll ]] && continue
      case ${dll,,} in
      kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | shell32.dll | ws2_32.dll | \
        ucrtbase.dll | api-ms-win-*.dll) ;;
      *) foreign+="$exe needs $dll
" ;;
      esac
    done <<<"$dlls"
  done
  if [[ -z $foreign ]]; then
    pass "zip programs need only Windows system DLLs"
  else
    fail "zip programs need only Windows system DLLs" "$foreign"
  fi

  if [[ $(head -c 200 "$folder/TRIGGER.txt") == *$'\r\n'* ]]; then
    pass "zip texts have CR LF line ends"
  else
    fail "zip texts have CR LF line ends"
  fi

  check_banner "zip trelvik.exe under Wine" "$version" "$wine" "$folder/trelvik.exe"
  local status=0

  # Wine replaces TEMP with its own, so a Windows shell sets it for the run.
  # trelvik.exe finds trelvik-stylecheck.exe beside itself, with no PATH.
  local temp=$scratch/zip-temp
  mkdir -p "$temp"
  status=0
  local windows_args="${example_args[*]:0:${#example_args[@]}-1} examples\\commit.txt"
  (cd "$folder" && "$wine" cmd /c "set TEMP=$(wine_path "$temp")&& trelvik.exe $windows_args") \
    >"$scratch/zip.raw.out" 2>"$scratch/zip.raw.err" || status=$?
  # The same report, but in Windows form: CR LF line ends, and the checker
  # names the files with backslashes.
  tr -d '\r' <"$scratch/zip.raw.out" >"$scratch/zip.out"
  tr -d '\r' <"$scratch/zip.raw.err" | sed 's|\\|/|g' >"$scratch/zip.err"
  check_example "zip example run under Wine" "$scratch/zip.out" "$scratch/zip.err" "$status" "$temp"
}

[[ -f $zip ]] && check_zip

# --- cmake --install -------------------------------------------------------------

# check_install NAME BUILD FILE...: the install step lays out at least FILEs.
check_install() {
  local name=$1 build=$2 prefix=$scratch/install-$1 absent=""
  shift 2
  if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
    fail "cmake --install of the $name build" "$(tail -n 20 "$scratch/install.log")"
    return
  fi
  local file
  for file in "$@"; do
    [[ -f $prefix/$file ]] || absent+="$file
"
  done
  if [[ -z $absent ]]; then
    pass "cmake --install of the $name build"
  else
    fail "cmake --install of the $name build" "not installed: $absent"
  fi
}

check_install native "$native_build" bin/trelvik bin/trelvik-git lib/trelvik/trelvik-stylecheck \
  share/man/man1/trelvik.1.gz share/man/man1/trelvik-git.1.gz share/doc/trelvik/examples/git/.trelvik share/doc/trelvik/copyright share/doc/trelvik/TRIGGER.txt \
  share/doc/trelvik/examples/commit.txt
check_install windows "$windows_build" trelvik.exe trelvik-stylecheck.exe README.md TRIGGER.txt \
  examples/commit.txt

finish
