#!/usr/bin/env bash
# ledger-sweeps.sh: the production ledger at its edges, measured on simulated boards.
#
# Every board is a `netboard-sim serial` on a pseudo-terminal, every settings file points the
# board's own address at 127.0.0.x, and the PostgreSQL server (for the shared ledger) is a
# private one in a temporary folder, listening on its unix socket only: nothing leaves the
# machine. Each sweep prints one summary line per case:
#
#   concurrent [N] [P...]  N boards (240) written by P (6 8) `write --mac` processes at once,
#                          each board a fresh simulator: on one SQLite ledger (one settings
#                          file), on one with a MAC block, and on a shared PostgreSQL ledger
#                          (one settings file per station) without and with a block
#   kill9 [N] [MAXMS] [pg] N runs (100) of `write --mac` killed with SIGKILL after 0..MAXMS ms
#                          (400), the board answering each line 25 ms late; then 20 plain runs
#                          (with pg: on a shared PostgreSQL ledger)
#   fulldisk [KB...]       `write --mac` with the ledger's folder on a 4 MB tmpfs (a loop ext4
#                          image where tmpfs cannot be mounted) filled to 15 levels of free space
#                          (or the KB levels given);
#                          `PRAGMA integrity_check` and the settings file checked after each
#   pgfail [N]             N runs (8) each with the shared ledger's server stopped
#                          (`pg_ctl stop -m immediate`) and paused (SIGSTOP of the postmaster
#                          and its backends for 15 s) at 0..900 ms of a run whose board
#                          answers each line 60 ms late (and 4 runs each at 50..350 ms with
#                          a board that refuses "mask", before "save"); then the next start
#                          (`record status`) must bring its spool to the server
#   all                    every sweep above
#
# Each case counts: runs, boards, addresses given (OK write-mac rows), duplicates (addresses with
# two OK write-mac rows, or heard with "save" by two boards), boards that heard "save" (in their
# simulator's transcript) but have no row for that address (OK, or NG failed at "save"), failed
# runs with their messages, and the wall time.
#
# Needs python3 and sqlite3; run it from a build that has netboard-cli and netboard-sim (as root
# for fulldisk and for the PostgreSQL server, which runs as user postgres):
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build/release --target netboard-cli netboard-sim
#   bench/ledger-sweeps.sh concurrent 240 6 8
# NB_BUILD names another build folder; NB_SWEEP_DIR the scratch folder (default
# /tmp/nb-ledger-sweeps, emptied at start if an earlier run made it); NB_KEEP=1 keeps it
# afterwards.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=${NB_BUILD:-$HERE/../build/release}
CLI=$BUILD/src/netboard-cli
SIM=$BUILD/tools/netboard-sim/netboard-sim
WORK=${NB_SWEEP_DIR:-/tmp/nb-ledger-sweeps}
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
for f in "$CLI" "$SIM"; do
    [ -x "$f" ] || { echo "missing $f (build netboard-cli and netboard-sim first)" >&2; exit 2; }
done

now_ms() { date +%s%3N; }

# mkini FILE STATION LAST_IP_BYTE [DATABASE_URI]: a settings file whose board address is loopback.
mkini() {
    {
        printf '[Option]\nTCPIP1_1=127\nTCPIP1_2=0\nTCPIP1_3=0\nTCPIP1_4=%s\n' "$3"
        printf 'MacAddr_1=0\nMacAddr_2=16\nMacAddr_3=0\n[Production]\nStation=%s\n' "$2"
        [ -n "${4:-}" ] && printf 'Database=%s\n' "$4"
    } >"$1"
}

# start_sim TRANSCRIPT [SWITCHES...]: starts a simulated board; sets SIM_PID and SIM_DEV.
start_sim() {
    local transcript=$1 out
    shift
    out=$(mktemp "$WORK/sim.XXXXXX")
    "$SIM" serial --transcript "$transcript" "$@" >"$out" 2>/dev/null &
    SIM_PID=$!
    SIM_DEV=
    for _ in $(seq 200); do
        SIM_DEV=$(head -1 "$out")
        [ -n "$SIM_DEV" ] && break
        sleep 0.01
    done
    rm -f "$out"
}

stop_sim() { kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; }

# The private PostgreSQL server: pg_start DIR (sets PG_URI), pg_up DIR, pg_stop DIR [MODE].
PG_DIRS=()
MOUNTS=()
pg_start() {
    local dir=$1
    mkdir -p "$dir"
    PG_DIRS+=("$dir")
    chown postgres: "$dir"
    su postgres -s /bin/sh -c "$PGBIN/initdb -D '$dir/data' -U postgres --auth=trust -E UTF8 \
        --no-locale --no-sync >'$dir/initdb.log' 2>&1" || { echo "initdb failed" >&2; return 1; }
    pg_up "$dir" || return 1
    "$PGBIN/psql" -X -q -h "$dir" -U postgres -d postgres \
        -c "CREATE ROLE netboard LOGIN" -c "CREATE DATABASE netboard OWNER netboard" >/dev/null
    PG_URI="postgresql://netboard@/netboard?host=$dir"
}
pg_up() {
    su postgres -s /bin/sh -c "$PGBIN/pg_ctl -D '$1/data' -l '$1/server.log' -w \
        -o \"-k '$1' -c listen_addresses='' -c max_connections=60\" start >/dev/null"
}
pg_stop() { su postgres -s /bin/sh -c "$PGBIN/pg_ctl -D '$1/data' -m ${2:-fast} -w stop >/dev/null"; }
# The postmaster and its children (the backends): pg_signal DIR SIGNAL.
# The postmaster first, so that it forks no backend between the listing and the signal.
pg_signal() {
    local pm
    pm=$(head -1 "$1/data/postmaster.pid")
    kill "-$2" "$pm"
    local children
    children=$(ps -o pid= --ppid "$pm")
    # shellcheck disable=SC2086 # one pid a word
    [ -n "$children" ] && kill "-$2" $children 2>/dev/null
}
pg_sql() { "$PGBIN/psql" -X -q -A -t -h "$1" -U postgres -d netboard -c "$2"; }

# check INI CASE RUNSFILE ELAPSED_MS TRANSCRIPTS...: the ledger against the boards' transcripts.
# RUNSFILE holds one "rc stderr-file" line per run.
check() {
    local ini=$1 name=$2 runs=$3 ms=$4
    shift 4
    "$CLI" record status --ini "$ini" >"$WORK/status.txt" 2>&1
    "$CLI" record export --ini "$ini" >"$WORK/export.csv" 2>"$WORK/export.err" ||
        { echo "$name: record export failed: $(cat "$WORK/export.err")"; return; }
    python3 - "$name" "$WORK/export.csv" "$runs" "$ms" "$@" <<'EOF'
import collections, csv, os, sys
name, export, runsfile, ms, transcripts = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
rows = list(csv.DictReader(open(export, encoding="utf-8")))
wm = [r for r in rows if r["command"] == "write-mac"]
ok = collections.Counter(r["mac"] for r in wm if r["result"] == "OK")
dup_rows = sorted(m for m, n in ok.items() if n > 1)
covered = {r["mac"] for r in wm if r["result"] == "OK" or r["failed"] == "save"}
boards = saved_boards = 0
heard_save = collections.Counter()
missing = []
for t in transcripts:
    try:
        lines = open(t, encoding="latin-1").read().split("\n")
    except OSError:
        continue
    boards += 1
    mac = None
    for line in lines:
        if line.startswith("madr="):
            mac = line[5:]
        elif line == "save" and mac:
            saved_boards += 1
            heard_save[mac] += 1
            if mac not in covered:
                missing.append(f"{mac} ({t.rsplit('/', 1)[-1]})")
            mac = None
dup_heard = sorted(m for m, n in heard_save.items() if n > 1)
block = os.environ.get("NB_CHECK_BLOCK")  # "00-10-00 00-10-FF": every OK address inside it
outside = []
if block:
    lo, hi = (int(b.replace("-", ""), 16) for b in block.split())
    outside = [m for m in ok if not lo <= int(m[9:].replace("-", ""), 16) <= hi]
fails = collections.Counter()
nruns = 0
for line in open(runsfile):
    rc, err = line.split(maxsplit=1)
    nruns += 1
    if rc != "0":
        try:
            msg = open(err.strip(), encoding="utf-8", errors="replace").read().strip().splitlines()
            msg = msg[-1] if msg else ""
        except OSError:
            msg = ""
        fails[f"rc={rc}: {msg[:160]}"] += 1
ng = collections.Counter(r["failed"] for r in wm if r["result"] == "NG")
print(f"{name}: runs={nruns} boards={boards} saves_heard={saved_boards} given(OK rows)={sum(ok.values())} "
      f"distinct={len(ok)} dup_ok_rows={len(dup_rows)} dup_heard_save={len(dup_heard)} "
      f"save_without_row={len(missing)} {'outside_block=%d ' % len(outside) if block else ''}failed_runs={sum(fails.values())} "
      f"ng_rows={dict(ng)} time={int(ms)/1000:.1f}s")
for m in dup_rows[:5]: print(f"  DUPLICATE OK rows: {m} x{ok[m]}")
for m in dup_heard[:5]: print(f"  DUPLICATE heard save: {m} x{heard_save[m]}")
for m in missing[:5]: print(f"  NO ROW for saved {m}")
for f, n in fails.most_common(6): print(f"  failed x{n}: {f}")
EOF
}

# One case of the concurrent sweep: concurrent_case NAME N P BLOCK(0/1) PG(0/1).
concurrent_case() {
    local name=$1 n=$2 p=$3 block=$4 pg=$5 dir i t0 t1
    dir=$WORK/$name
    mkdir -p "$dir"
    : >"$dir/runs"
    local uri=
    if [ "$pg" = 1 ]; then
        pg_start "$dir/pg" || return
        uri=$PG_URI
    fi
    for ((i = 0; i < p; i++)); do
        if [ "$pg" = 1 ]; then mkini "$dir/st$i.ini" "st$i" $((10 + i)) "$uri"
        elif [ "$i" = 0 ]; then mkini "$dir/st0.ini" st0 10
        fi
    done
    ini_of() { if [ "$pg" = 1 ]; then echo "$dir/st$1.ini"; else echo "$dir/st0.ini"; fi; }
    local NB_CHECK_BLOCK=
    if [ "$block" = 1 ]; then
        export NB_CHECK_BLOCK="00-10-00 00-10-FF"
        "$CLI" block set 00-10-00 00-10-FF --ini "$(ini_of 0)" >/dev/null 2>"$dir/block.err" ||
            echo "$name: block set failed: $(cat "$dir/block.err")"
    fi
    t0=$(now_ms)
    for ((i = 0; i < p; i++)); do
        (
            local k ini rc
            ini=$(ini_of "$i")
            for ((k = i; k < n; k += p)); do
                start_sim "$dir/t$k.txt"
                "$CLI" serial --device "$SIM_DEV" write --mac --ini "$ini" >"$dir/o$k" 2>"$dir/e$k"
                rc=$?
                stop_sim
                echo "$rc $dir/e$k" >>"$dir/runs"
            done
        ) &
    done
    wait
    t1=$(now_ms)
    check "$(ini_of 0)" "$name" "$dir/runs" $((t1 - t0)) "$dir"/t*.txt
    [ "$pg" = 1 ] && pg_stop "$dir/pg"
}

sweep_concurrent() {
    local n=${1:-240} p
    shift || true
    local procs=("$@")
    [ ${#procs[@]} -eq 0 ] && procs=(6 8)
    for p in "${procs[@]}"; do
        concurrent_case "sqlite-p$p" "$n" "$p" 0 0
        concurrent_case "sqlite-block-p$p" "$n" "$p" 1 0
        [ -n "$PGBIN" ] && concurrent_case "pg-p$p" "$n" "$p" 0 1
        [ -n "$PGBIN" ] && concurrent_case "pg-block-p$p" "$n" "$p" 1 1
    done
}

sweep_kill9() {
    local n=${1:-100} max=${2:-400} pg=${3:-} dir=$WORK/kill9 i d pid t0 rc name=kill9
    mkdir -p "$dir"
    : >"$dir/runs"
    : >"$dir/killed"
    if [ "$pg" = pg ]; then
        pg_start "$dir/pg" || return
        mkini "$dir/st.ini" st 20 "$PG_URI"
        name=kill9-pg
    else
        mkini "$dir/st.ini" st 20
    fi
    t0=$(now_ms)
    for ((i = 0; i < n; i++)); do
        d=$((i * max / (n > 1 ? n - 1 : 1)))
        start_sim "$dir/t$i.txt" --reply-delay 25
        "$CLI" serial --device "$SIM_DEV" write --mac --ini "$dir/st.ini" >"$dir/o$i" 2>"$dir/e$i" &
        pid=$!
        sleep "$(printf '0.%03d' "$d")"
        if kill -9 "$pid" 2>/dev/null; then echo "$i $d" >>"$dir/killed"; fi
        wait "$pid" 2>/dev/null
        rc=$?
        [ "$rc" = 137 ] || echo "$rc $dir/e$i" >>"$dir/runs"
        stop_sim
    done
    # The next start settles what the killed ones left; then plain runs on fresh boards.
    for ((i = n; i < n + 20; i++)); do
        start_sim "$dir/t$i.txt"
        "$CLI" serial --device "$SIM_DEV" write --mac --ini "$dir/st.ini" >"$dir/o$i" 2>"$dir/e$i"
        echo "$? $dir/e$i" >>"$dir/runs"
        stop_sim
    done
    echo "$name: killed $(wc -l <"$dir/killed") of $n runs (delays 0..${max} ms); runs= counts the" \
        "runs not killed (finished first) and the 20 plain runs"
    check "$dir/st.ini" "$name" "$dir/runs" $(($(now_ms) - t0)) "$dir"/t*.txt
    local states="SELECT '$name address states: ' || string_agg(state || '=' || n, ' ') FROM
         (SELECT state, count(*) n FROM addresses GROUP BY state) s"
    if [ "$pg" = pg ]; then
        pg_sql "$dir/pg" "$states"
        pg_stop "$dir/pg"
    else
        sqlite3 "$dir/st-ledger.sqlite" "${states/string_agg/group_concat}" 2>/dev/null
    fi
}

sweep_fulldisk() {
    local dir=$WORK/fulldisk mnt how err lvl i rc t0 msg
    mnt=$dir/mnt
    mkdir -p "$mnt"
    : >"$dir/runs"
    if err=$(mount -t tmpfs -o size=4m tmpfs "$mnt" 2>&1); then
        how="tmpfs 4 MB"
    else
        echo "fulldisk: mount -t tmpfs refused: $err"
        if truncate -s 8M "$dir/fs.img" && mkfs.ext4 -q -F "$dir/fs.img" &&
            err=$(mount -o loop "$dir/fs.img" "$mnt" 2>&1); then
            how="loop ext4 8 MB"
        else
            echo "fulldisk: BLOCKED: loop mount refused: $err"
            return
        fi
    fi
    MOUNTS+=("$mnt")
    mkini "$mnt/st.ini" st 30
    cp "$mnt/st.ini" "$dir/st.ini.orig"
    local volatile='^(MacAddr_[123]|MacHighWater|StationId|LedgerId)='
    local levels=("$@")
    [ ${#levels[@]} -eq 0 ] && levels=(0 1 2 4 8 12 16 24 32 48 64 96 128 192 256)
    # A ledger with some rows, as a station would have.
    for i in 0 1 2; do
        start_sim "$dir/pre$i.txt"
        "$CLI" serial --device "$SIM_DEV" write --mac --ini "$mnt/st.ini" >/dev/null 2>&1
        stop_sim
    done
    t0=$(now_ms)
    echo "fulldisk on $how: free_before_run(KB) rc integrity ini message"
    for lvl in "${levels[@]}"; do
        rm -f "$mnt/filler"
        local avail
        avail=$(df --output=avail -B1 "$mnt" | tail -1)
        fallocate -l $((avail - lvl * 1024)) "$mnt/filler" 2>/dev/null ||
            dd if=/dev/zero of="$mnt/filler" bs=1k count=$((avail / 1024 - lvl)) 2>/dev/null
        local free
        free=$(($(df --output=avail -B1 "$mnt" | tail -1) / 1024))
        start_sim "$dir/t$lvl.txt"
        "$CLI" serial --device "$SIM_DEV" write --mac --ini "$mnt/st.ini" >"$dir/o$lvl" 2>"$dir/e$lvl"
        rc=$?
        stop_sim
        echo "$rc $dir/e$lvl" >>"$dir/runs"
        rm -f "$mnt/filler"
        local integ ini_ok counter
        integ=$(sqlite3 "$mnt/st-ledger.sqlite" 'PRAGMA integrity_check' 2>&1 | tr '\n' ' ')
        # Intact: every line as it was but for the counter and the ledger's own keys (the
        # program writes CR LF line ends and an empty line between sections).
        if diff -q <(tr -d '\r' <"$dir/st.ini.orig" | grep -Ev "$volatile|^\$") \
            <(tr -d '\r' <"$mnt/st.ini" | grep -Ev "$volatile|^\$") \
            >/dev/null && grep -q '^LedgerId=' "$mnt/st.ini"; then ini_ok=intact; else ini_ok=DAMAGED; fi
        counter=$(tr -d '\r' <"$mnt/st.ini" | grep -E '^MacAddr_[123]=' | cut -d= -f2 | xargs printf '%02X-')
        msg=$(tail -1 "$dir/e$lvl")
        echo "  free=${free} rc=$rc integrity=${integ% } ini=$ini_ok counter=${counter%-} ${msg:0:150}"
    done
    # Room again: the station goes on.
    for i in 0 1 2; do
        start_sim "$dir/post$i.txt"
        "$CLI" serial --device "$SIM_DEV" write --mac --ini "$mnt/st.ini" >"$dir/op$i" 2>"$dir/ep$i"
        echo "$? $dir/ep$i" >>"$dir/runs"
        stop_sim
    done
    check "$mnt/st.ini" "fulldisk" "$dir/runs" $(($(now_ms) - t0)) "$dir"/*.txt
    cp "$mnt"/st* "$dir/" 2>/dev/null
    umount "$mnt" && MOUNTS=()
}

# One run of the pgfail sweep: pg_run KIND(stop/pause) I DELAY_MS [BOARD SWITCHES...].
pg_run() {
    local kind=$1 i=$2 d=$3 dir=$WORK/pgfail pid t0 t1 rc
    shift 3
    start_sim "$dir/t-$kind$i.txt" --reply-delay 60 "$@"
    t0=$(now_ms)
    "$CLI" serial --device "$SIM_DEV" write --mac --ini "$dir/st.ini" >"$dir/o-$kind$i" 2>"$dir/e-$kind$i" &
    pid=$!
    sleep "$(printf '0.%03d' "$d")"
    if [ "$kind" = stop ]; then pg_stop "$dir/pg" immediate; else pg_signal "$dir/pg" STOP; fi
    wait "$pid"
    rc=$?
    t1=$(now_ms)
    stop_sim
    if [ "$kind" = pause ]; then
        sleep $((15 - (t1 - t0) / 1000 > 0 ? 15 - (t1 - t0) / 1000 : 0))
        pg_signal "$dir/pg" CONT
    else
        pg_up "$dir/pg"
    fi
    echo "$rc $dir/e-$kind$i" >>"$dir/runs"
    local mac saved=no state='' rows=
    mac=$(grep -s '^madr=' "$dir/t-$kind$i.txt" | tail -1 | cut -d= -f2)
    grep -sqx save "$dir/t-$kind$i.txt" && saved=yes
    # The station reaches the server again (a new process): its spool goes over.
    "$CLI" record status --ini "$dir/st.ini" >"$dir/status-$kind$i" 2>&1
    if [ -n "$mac" ]; then
        state=$(pg_sql "$dir/pg" "SELECT state FROM addresses WHERE low = x'${mac:9:2}${mac:12:2}${mac:15:2}'::int")
        rows=$(pg_sql "$dir/pg" "SELECT result || '/' || failed FROM commands WHERE mac = '$mac' AND command = 'write-mac'" | tr '\n' ' ')
    fi
    printf '  %s%s at %3d ms: rc=%s %5.1fs sent=%s save=%s server_state=%s server_rows=[%s] %s\n' \
        "$kind" "${1:+ ($*)}" "$d" "$rc" "$(echo "($t1 - $t0) / 1000" | bc -l)" "${mac:-none}" "$saved" \
        "${state:-none}" "${rows% }" "$(tail -1 "$dir/e-$kind$i" | cut -c1-160)"
}

sweep_pgfail() {
    local n=${1:-8} dir=$WORK/pgfail i d kind t0
    [ -n "$PGBIN" ] || { echo "pgfail: no PostgreSQL binaries"; return; }
    mkdir -p "$dir"
    : >"$dir/runs"
    pg_start "$dir/pg" || return
    mkini "$dir/st.ini" st 40 "$PG_URI"
    "$CLI" block set 00-10-00 00-10-FF --ini "$dir/st.ini" >/dev/null
    t0=$(now_ms)
    for kind in stop pause; do
        for ((i = 0; i < n; i++)); do
            d=$((i * 900 / (n > 1 ? n - 1 : 1)))
            pg_run "$kind" "$i" "$d"
        done
        # A board that refuses "mask" (the 6th line): the run ends NG before "save".
        for ((i = 0; i < 4; i++)); do
            pg_run "$kind" "ng$i" $((50 + i * 100)) --refuse mask
        done
    done
    # Plain runs once it is back.
    for i in 0 1 2; do
        start_sim "$dir/t-after$i.txt"
        "$CLI" serial --device "$SIM_DEV" write --mac --ini "$dir/st.ini" >/dev/null 2>"$dir/e-after$i"
        echo "$? $dir/e-after$i" >>"$dir/runs"
        stop_sim
    done
    check "$dir/st.ini" pgfail "$dir/runs" $(($(now_ms) - t0)) "$dir"/t-*.txt
    echo "  spool rows still pending on the station: $(sqlite3 "$dir/st-ledger.sqlite" \
        'SELECT count(*) FROM commands WHERE pending = 1' 2>&1)"
    pg_stop "$dir/pg"
}

# Whatever a sweep left running or mounted goes at the end, however it ends.
cleanup() {
    local d m
    for d in "${PG_DIRS[@]}"; do
        [ -f "$d/data/postmaster.pid" ] && { pg_signal "$d" CONT; pg_stop "$d" immediate; }
    done
    for m in "${MOUNTS[@]}"; do umount "$m" 2>/dev/null; done
}

what=${1:-all}
shift || true
case $what in
    concurrent | kill9 | fulldisk | pgfail | all) ;;
    *) sed -n '2,/^set -u/p' "$0" | sed '$d'; exit 2 ;;
esac
# The scratch folder is emptied only when an earlier run of this script made it.
if [ -e "$WORK" ] && [ ! -e "$WORK/.ledger-sweeps" ]; then
    echo "$WORK exists and is not this script's scratch folder; set NB_SWEEP_DIR" >&2
    exit 2
fi
rm -rf "$WORK"
mkdir -p "$WORK" && : >"$WORK/.ledger-sweeps"
trap cleanup EXIT
case $what in
    concurrent) sweep_concurrent "$@" ;;
    kill9) sweep_kill9 "$@" ;;
    fulldisk) sweep_fulldisk "$@" ;;
    pgfail) sweep_pgfail "$@" ;;
    all) sweep_concurrent; sweep_kill9; sweep_fulldisk; sweep_pgfail ;;
esac
cleanup
trap - EXIT
[ "${NB_KEEP:-0}" = 1 ] || rm -rf "$WORK"
