#!/usr/bin/env bash
# Fails when a file under uninstall/ includes a header of its own layer's
# neighbour or of a layer above it. Each folder's rank is its layer; a folder
# may include its own headers and those of lower ranks only.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
declare -A rank=(
    [common]=0 [resources]=0
    [files]=1
    [platform]=2 [run]=2
    [settings]=3 [localization]=3
    [integration]=4
    [removal]=5
    [startup]=6
)
status=0
cd "$top/uninstall"
while IFS=: read -r file line text; do
    from=${file%%/*}
    to=$(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' <<<"$text")
    [ -z "$to" ] || [ "$to" = "$from" ] && continue
    if [ -z "${rank[$from]:-}" ] || [ -z "${rank[$to]:-}" ] || [ "${rank[$to]}" -ge "${rank[$from]}" ]; then
        echo "layer check: $file:$line includes $to/ from $from/ ($text)" >&2
        status=1
    fi
done < <(grep -rn --include='*.cpp' --include='*.h' '^#include "[a-z_]*/' .  | sed 's#^\./##')
exit $status
