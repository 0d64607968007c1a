#!/usr/bin/env bash
# Installs what is missing, builds, and runs the daemon with --debug against the
# reference event feed. It uses the session bus when there is one, a private bus
# otherwise, and its own XDG folders under build/demo, where it writes a demo account
# file unless one is there. Stop it with Ctrl-C; RUN_SECONDS=n stops it after n seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ -z "${TWITTER_OSTRA_BUILT:-}" ]; then
    scripts/install-deps.sh
    scripts/build.sh
    export TWITTER_OSTRA_BUILT=1
fi

if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    echo "No session bus: starting a private one."
    exec dbus-run-session -- "$0" "$@"
fi

demo=$root/build/demo
export XDG_CONFIG_HOME=$demo/config XDG_CACHE_HOME=$demo/cache XDG_DATA_HOME=$demo/data
mkdir -p "$XDG_CONFIG_HOME/Halvex" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
account=$XDG_CONFIG_HOME/Halvex/TwitterAccount.conf
if [ ! -f "$account" ]; then
    cat > "$account" <<'ACCOUNT'
[account]
present=true
screen_name=AliceInData
user_id=1111111111
token=demo-token
token_secret=demo-token-secret
consumer_key=demo-consumer-key
consumer_secret=demo-consumer-secret

[services]
account=true
contacts=true
event_feed=true
notifications=true

[settings]
tw-notif-main=true
tw-notif-msg=true
tw-notif-mention=true
tw-notif-followed=false
tw-notif-anyone=true
ACCOUNT
fi
echo "Account file: $account"
echo "Item cache:   $XDG_CACHE_HOME/data/twitter-ostra/twitter-cache.db"

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

if ! dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        string:com.halvex.home.EventFeed | grep -q 'boolean true'; then
    build/tools/eventfeed/ostra-eventfeed --verbose --dump "$demo/eventfeed.json" &
    pids+=($!)
    echo "Reference event feed started; its items: $demo/eventfeed.json"
fi

build/src/daemon/twitter-ostra --debug &
pids+=($!)
if [ -n "${RUN_SECONDS:-}" ]; then
    sleep "$RUN_SECONDS"
else
    wait "${pids[-1]}"
fi
