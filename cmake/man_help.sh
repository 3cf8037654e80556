#!/bin/sh
# man_help.sh PROGRAM OPTION -- what help2man reads from PROGRAM: --version
# as it is, --help laid out for a manual page. help2man puts everything
# after "Options:" into OPTIONS, so the paragraphs a program prints after
# its options (what it reads, how it runs unattended, its patterns or
# operands) are moved in front of "Options:", into DESCRIPTION; a usage
# line wrapped onto indented lines is joined into one, the SYNOPSIS. A
# heading ("Options:", "Examples:", "patterns:") is seen only at the start
# of a paragraph: a blank line goes before each.
program=$1
option=$2
if [ "$option" != "--help" ]; then
    exec "$program" "$option"
fi
"$program" --help | awk '
    NR == 1 { usage = $0; part = "usage"; next }
    part == "usage" && /^ +\[/ { sub(/^ +/, ""); usage = usage " " $0; next }
    part == "usage" { part = "head" }
    part == "head" && /^Options:/ { part = "options" }
    part == "options" && /^[^ ]/ && !/^Options:/ { part = "foot" }
    /^[A-Za-z][A-Za-z ]*:$/ { text[part] = text[part] "\n" }
    { text[part] = text[part] $0 "\n" }
    END {
        print usage
        printf "%s", text["head"]
        if (text["foot"] != "")
            printf "\n%s", text["foot"]
        printf "%s", text["options"]
    }'
