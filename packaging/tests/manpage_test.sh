#!/usr/bin/env bash
# The man page documents what veltchan accepts: the same options as --help,
# for the program and for each subcommand --help lists (the page gives a
# subcommand's options under ".SS <subcommand>" in its COMMANDS section),
# the same positional arguments, and the exit statuses veltchan.h defines.
# It also renders without groff warnings.
#   manpage_test.sh VELTCHAN MANPAGE VELTCHAN_H
set -euo pipefail
veltchan=$1 page=$2 header=$3
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

warnings=$(groff -man -ww -z "$page" 2>&1) || true
if [ -n "$warnings" ]; then
  echo "groff warns about $page:"
  echo "$warnings"
  status=1
fi

# "context<TAB>name" for every option and positional in one --help text;
# context is "" for the program, else the subcommand.
help_entries() {
  local context=$1
  awk -v ctx="$context" '
    /^[A-Za-z][A-Za-z ]*:$/ { block = tolower($0); next }
    block ~ /^positionals/ && /^  [A-Z]/ { print ctx "\t" $1; next }
    block ~ /^options/ && /^  -/ {
      # "  -h,--help  ..." or "  --queue NAME ... Needs: PATH": the names
      # end at the first blank.
      names = $1
      n = split(names, parts, /,/)
      for (i = 1; i <= n; i++)
        if (parts[i] ~ /^--?[A-Za-z]/ && !(ctx != "" && (parts[i] == "-h" || parts[i] == "--help"))) print ctx "\t" parts[i]
    }'
}

# Subcommand names listed by a --help text.
help_subcommands() {
  awk '/^[A-Za-z][A-Za-z ]*:$/ { block = tolower($0); next }
       block ~ /^subcommands/ && /^  [a-z]/ { print $1 }'
}

main_help=$("$veltchan" --help)
{
  help_entries "" <<<"$main_help"
  while read -r sub; do
    "$veltchan" "$sub" --help | help_entries "$sub"
  done < <(help_subcommands <<<"$main_help")
} | sort -u >"$work/help"

# The tag line after each .TP in OPTIONS (context "") and under each .SS of
# COMMANDS (context: the subcommand): options, or a positional in capitals.
awk '
  /^\.SH / { section = $0; sub(/^\.SH +/, "", section); gsub(/"/, "", section); ctx = ""; next }
  /^\.SS / && section == "COMMANDS" { ctx = $2; gsub(/"/, "", ctx); next }
  /^\.TP/ { tag = 1; next }
  tag {
    tag = 0
    if (section != "OPTIONS" && section != "COMMANDS") next
    line = $0; gsub(/\\-/, "-", line); gsub(/\\f[A-Z]/, " ", line); gsub(/"/, " ", line)
    n = split(line, words, /[ ,]+/)
    if (n == 2 && words[2] ~ /^[A-Z][A-Z_]*$/ && words[1] ~ /^\.[BI]$/) { print ctx "\t" words[2]; next }
    for (i = 2; i <= n; i++)
      if (words[i] ~ /^--?[A-Za-z]/ && !(ctx != "" && (words[i] == "-h" || words[i] == "--help"))) print ctx "\t" words[i]
  }' "$page" | sort -u >"$work/man"

if ! diff_out=$(diff "$work/help" "$work/man"); then
  echo "options of --help (<) and of the man page (>) differ (subcommand, option):"
  echo "$diff_out"
  status=1
fi

code_statuses=$(sed -n 's/.*kExit[A-Za-z]* = \([0-9]*\);.*/\1/p' "$header" | sort -n | tr '\n' ' ')
page_statuses=$(awk '/^\.SH / { on = ($0 ~ /EXIT STATUS/); next }
                     on && /^\.TP/ { tag = 1; next }
                     on && tag { tag = 0; print $2 }' "$page" | sort -n | tr '\n' ' ')
if [ -z "$code_statuses" ] || [ "$code_statuses" != "$page_statuses" ]; then
  echo "exit statuses: veltchan.h defines ${code_statuses:-none}; the man page documents ${page_statuses:-none}"
  status=1
fi

[ "$status" -eq 0 ] && echo "man page and --help agree: $(wc -l <<<"$main_help") help lines, exit statuses $code_statuses"
exit "$status"
