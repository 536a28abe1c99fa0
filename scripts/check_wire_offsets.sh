#!/usr/bin/env bash
# Checks that no product source outside protocol/ and sim/ indexes a report by
# number: the byte positions of the wire are written once, in
# protocol/layout.h, and every other layer reads and writes reports through the
# typed views of protocol/reports.h. Lists each hit as FILE:LINE: TEXT and exits
# 1 when there is one, 0 when there is none.
#
# What counts as a hit, outside comments:
#   - a numeric index on a report variable: r[3], report[1], reply[6],
#     host[10], buffer[2], HostReport()[2], report.data()[3], and any name
#     ending in Report, Reply or Buffer (hostReport[8], lastReply[2]);
#   - an accessor of the report buffer called with a literal: Device(6),
#     Host(10), Device16(7);
#   - a 16- or 32-bit field helper called with a literal position:
#     Put16(report, 4, ...), Get16(reply, 7);
#   - a pointer offset into a report by a literal: host + 6,
#     DeviceReport() + 50.
# Arrays of other names (text lines, HEX record bytes, small local tables)
# are not reports and are not looked at.
set -euo pipefail
cd "$(dirname "$0")/.."

dirs=(session image cli link mainwin config chooser calibration common)

# A report variable: r, report, reply, host, buffer, or a name ending in
# Report, Reply or Buffer; optionally called (HostReport()) or .data().
name='(\b(r|report|reply|host|buffer)|[A-Za-z_]*(Report|Reply|Buffer))(\(\)|\.data\(\))?'
patterns=(
  "${name}\[[0-9]+\]"
  '\b(Device|Host|Device16)\( *[0-9]+ *\)'
  '\b(Put16|Get16|Put32|Get32|PutLe16|GetLe16)\([^,()]*(\(\))?, *[0-9]+'
  "${name} *\+ *[0-9]+\b"
)
pattern=$(IFS='|'; echo "${patterns[*]}")

status=0
while IFS= read -r -d '' file; do
  # Comments are dropped, line by line, so that the line numbers stay.
  hits=$(sed -e 's://.*$::' "$file" | grep -nE "$pattern" || true)
  if [ -n "$hits" ]; then
    status=1
    while IFS= read -r hit; do
      echo "$file:${hit%%:*}: $(sed -n "${hit%%:*}p" "$file" | sed -e 's/^ *//')"
    done <<<"$hits"
  fi
done < <(find "${dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)

if [ "$status" -ne 0 ]; then
  echo "check_wire_offsets: reports indexed by number outside protocol/ and sim/;" \
       "use the views of protocol/reports.h" >&2
fi
exit "$status"
