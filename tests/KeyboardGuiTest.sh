#!/usr/bin/env bash
# Without the mouse, on a real X display (Xvfb) driven by xdotool: open a database from the path
# box, open its table with Enter, open the Table panel with its letter, go to Replace and open its
# panel, choose a field, type what to find and what to put, and run it.
#   KeyboardGuiTest.sh TABULON TABULON_CLI   (run under xvfb-run)
set -u
tabulon=$1
cli=$2
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config ASAN_OPTIONS=detect_leaks=0
unset QT_QPA_PLATFORM
sqlite3 "$work/k.db" "create table Items (Id integer, Nombre text(30));
                      insert into Items values (1, 'uno'), (2, 'dos'), (3, 'uno');"

"$tabulon" "$work/k.db" &
pid=$!
window() {
    for _ in $(seq 1 600); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    echo "KeyboardGuiTest: no window '$1'" >&2
    return 1
}
key() { xdotool key --clearmodifiers "$@"; sleep 0.5; }
# A panel slides open before it takes the focus: keys typed during the slide would go elsewhere.
panel() { xdotool key --clearmodifiers "$@"; sleep 2; }

main=$(window "^Tabulon 1.0$") || exit 1
sleep 1
xdotool windowfocus --sync "$main"
key Return                    # the path box: open the database; the focus goes to its tables
key Return                    # open the current table
browser=$(window "Records para Items") || exit 1
sleep 1
xdotool windowfocus --sync "$browser"
panel alt+t                   # the Table panel, the focus on its first button (Verify)
key Tab                       # Replace
panel space                   # its panel, the focus on the field list
key n                         # Nombre
key Return
xdotool type --delay 50 uno
key Return
xdotool type --delay 50 one
key Return                    # on Remplazar
key space

for _ in $(seq 1 50); do
    got=$("$cli" query "$work/k.db" "select Nombre from Items order by Id" --no-header 2>/dev/null | tr '\n' ' ')
    [ "$got" = "one dos one " ] && { echo "KeyboardGuiTest: replaced from the keyboard"; exit 0; }
    sleep 0.2
done
echo "KeyboardGuiTest: the records are '$got', not 'one dos one '" >&2
exit 1
