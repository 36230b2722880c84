#!/bin/sh
# Counts the declarations in the public sections of a class header (one per statement).
# scripts/public_members.sh src/app/TMainScreen.h
awk '/^ *public:/{p=1;next} /^ *(protected|private):/{p=0} /^};/{p=0}
     p && !/^ *\/\// && /;/ {n += gsub(/;/, ";")} END {print n " public declarations"}' "$1"
