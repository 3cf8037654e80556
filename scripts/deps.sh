#!/bin/sh
# deps.sh LIST... -- install the Debian packages named in the lists (one a
# line, '#' starts a comment) that are not installed yet. Does nothing when
# all are there; runs apt-get as root, through sudo otherwise.
set -e
want=$(cat "$@" | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)
missing=""
for p in $want; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq $missing
