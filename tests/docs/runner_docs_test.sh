#!/usr/bin/env bash
# tarnex-run's manual page and shell completions against what tarnex-run itself says, so that
# neither falls behind an option or a stored option.
#   runner_docs_test.sh man TARNEX_RUN MAN_PAGE
#     every option of --help has an entry under OPTIONS, every option named there is one of
#     --help's, and every stored option of --list-settings is listed under --set-option
#   runner_docs_test.sh completion TARNEX_RUN BASH_COMPLETION ZSH_COMPLETION
#     bash offers every option after "-", every stored option after --set-option, the choices
#     a|b|c of an option after it, and for the script .fcs/.fcx files and folders only; zsh
#     reads its file and has an entry for every option
set -euo pipefail
mode=$1
run=$2
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
help=$(LC_ALL=C "$run" --help)

# The first column of --help's option lines ("  -h, --help", "  --tls off|explicit|implicit").
help_options() {
  grep -E '^  -' <<<"$help" | sed -E 's/^  //; s/  .*//' |
    grep -oE '(^|, )--?[A-Za-z][-A-Za-z0-9]*' | sed 's/^, //' | sort -u
}

setting_names() {
  LC_ALL=C "$run" --registry "$work/registry.db" --list-settings |
    sed -n '/^\[Options\]$/,/^\[/{/^[^[]/s/=.*//p}'
}

# Options named on groff lines: a dash after a blank, a quote or a bracket.
groff_options() {
  sed 's/\\-/-/g' | grep -oE '(^|[ "(])--?[A-Za-z][-A-Za-z0-9]*' | sed -E 's/^[ "(]//' | sort -u
}

check_man_page() {
  local page=$1 options headings named block name
  options=$(help_options)
  local section
  section=$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page")
  headings=$(awk 'heading { print; heading = 0 } /^\.TP/ { heading = 1 }' <<<"$section" |
    groff_options)
  named=$(groff_options <<<"$section")
  for name in $(comm -23 <(echo "$options") <(echo "$headings")); do
    fail "$page: $name of --help has no entry under OPTIONS"
  done
  for name in $(comm -13 <(echo "$options") <(echo "$named")); do
    fail "$page: OPTIONS names $name, which --help does not know"
  done
  block=$(awk '/^\.(TP|SH|SS)/ { inside = 0 } /^\.TP/ { start = NR } NR == start + 1 && /set\\-option/ { inside = 1 } inside' <<<"$section")
  [[ -n $block ]] || fail "$page: no entry for --set-option"
  for name in $(setting_names); do
    grep -qw -- "$name" <<<"$block" || fail "$page: the stored option $name is not listed under --set-option"
  done
}

# What bash offers for the words given (the last one is being completed), sorted.
bash_offers() {
  COMP_WORDS=("tarnex-run" "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _tarnex_run
  ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect_offers() {
  local what=$1 want=$2 got
  shift 2
  got=$(bash_offers "$@")
  [[ $got == "$want" ]] || fail "bash completion of $what: offers [${got//$'\n'/ }], expected [${want//$'\n'/ }]"
}

check_completion() {
  local bash_file=$1 zsh_file=$2 option choices settings name
  # shellcheck source=/dev/null
  source "$bash_file"
  expect_offers "an option" "$(help_options)" "-"
  settings=$(setting_names | sed 's/$/=/' | sort)
  expect_offers "--set-option" "$settings" --set-option ""
  # Every option whose value is a choice: after it, and after "--option=".
  while read -r option choices; do
    choices=$(tr '|' '\n' <<<"$choices" | sort)
    expect_offers "$option" "$choices" "$option" ""
    expect_offers "$option=" "$choices" "$option" "=" ""
  done < <(grep -E '^  --[a-z-]+ [^ ]*\|' <<<"$help" | sed -E 's/^  //; s/  .*//; s/ /\t/' | tr '\t' ' ')
  mkdir "$work/scripts" "$work/scripts/sub"
  touch "$work/scripts/a.fcs" "$work/scripts/B.FCX" "$work/scripts/notes.txt"
  pushd "$work/scripts" >/dev/null
  expect_offers "the script" "$(printf '%s\n' B.FCX a.fcs sub)" ""
  expect_offers "a file option" "$(printf '%s\n' B.FCX a.fcs notes.txt sub)" --log ""
  popd >/dev/null

  zsh -n "$zsh_file" || fail "$zsh_file does not parse"
  for name in $(help_options); do
    grep -qE "^  '\\*?$name(=)?\\[" "$zsh_file" || fail "$zsh_file has no entry for $name"
  done
}

case $mode in
  man) check_man_page "$3" ;;
  completion) check_completion "$3" "$4" ;;
  *) echo "usage: $0 man|completion TARNEX_RUN FILE..." >&2; exit 2 ;;
esac
((failures == 0)) || { echo "$failures problem(s)"; exit 1; }
echo "ok"
