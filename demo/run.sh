#!/usr/bin/env bash
# demo/run.sh - the demo: builds the project, then shows zelrep at work on
# a sample directory of 2,000 people and 100 groups: a migration, a handful
# of directory changes of every kind, the change documents that one
# scheduled pass publishes for them, and the task's configuration.
#
#   demo/run.sh [--no-build]
#
#   DEMO_DATA  data directory (default: demo-data/ in the repository),
#              emptied and filled afresh on every run
#   BUILD_DIR  build directory, as for scripts/build.sh (default: build)
#   DEMO_WINE  the command that runs Windows programs (wine and its
#              settings): the demo then runs the Windows build's programs
#              (NAME.exe) with it, as tests/wine/demo_test.sh does
#
# Owned by the demo. tests/integration/demo_test.cpp runs this script and
# compares the change documents with what each change below must publish:
# the people, groups and values here are part of that check.
set -euo pipefail

readonly INSTANCE=DEMO
readonly PEOPLE_COUNT=2000 GROUP_COUNT=100 SEED=7
readonly SCHEDULE_SECONDS=3
readonly SYNC_AGENT="CN=Sync Agent/O=Acme"
readonly STEPS=10
readonly MARKER=.zelrep-demo

usage() {
    sed -n '7,15s/^# \{0,1\}//p' "$0"
}

build=1
for arg in "$@"; do
    case $arg in
        --no-build) build=0 ;;
        -h | --help) usage; exit 0 ;;
        *)
            printf 'demo: unknown argument %s\n' "$arg" >&2
            usage >&2
            exit 2
            ;;
    esac
done

caller_dir=$PWD
cd "$(dirname "$0")/.."
root=$PWD
data=${DEMO_DATA:-$root/demo-data}
[[ $data == /* ]] || data=$caller_dir/$data
build_dir=${BUILD_DIR:-build}
[[ $build_dir == /* ]] || build_dir=$root/$build_dir
bin=$build_dir/bin
log=$data/console.log
# How the programs are run: directly, or the Windows ones through wine,
# with the data directory as a Windows path.
launcher=() exe= data_arg=$data
if [ -n "${DEMO_WINE:-}" ]; then
    read -r -a launcher <<<"$DEMO_WINE"
    exe=.exe data_arg=Z:$data
fi
started=$SECONDS

# ---- output ----------------------------------------------------------

step_number=0
step() {
    step_number=$((step_number + 1))
    printf '\n[%d/%d] %s\n' "$step_number" "$STEPS" "$*"
}
say() { printf '      %s\n' "$@"; }
fail() {
    printf '\ndemo: %s\n' "$*" >&2
    exit 1
}
# A console log line without its date, CR and trailing blanks.
show_line() {
    local line=${1%$'\r'}
    say "${line#* }"
}

# ---- the data directory ----------------------------------------------

# Empties the data directory, refusing one that the demo did not make.
reset_data_dir() {
    if [ -e "$data" ]; then
        [ -d "$data" ] || fail "DEMO_DATA=$data is not a directory"
        if [ ! -f "$data/$MARKER" ] && [ -n "$(ls -A "$data")" ]; then
            fail "$data holds files the demo did not make; remove them or point DEMO_DATA elsewhere"
        fi
        find "$data" -mindepth 1 -delete
    fi
    mkdir -p "$data"
    : >"$data/$MARKER"
}

# ---- building ----------------------------------------------------------

# Shows the build's progress on one line when the output is a terminal.
build_progress() {
    if [ -t 1 ]; then
        awk 'match($0, /^\[ *[0-9]+%\]/) {
                 percent = substr($0, 2, RLENGTH - 3) + 0
                 if (percent > shown) { shown = percent; printf "\r      %3d%%", shown; fflush() }
             }
             END { printf "\r" }'
    else
        cat >/dev/null
    fi
}

build_programs() {
    local build_log=$data/build.log
    step "Building into ${build_dir#"$root"/}/ (scripts/build.sh, log in $build_log)"
    if ! BUILD_DIR=$build_dir scripts/build.sh 2>&1 | tee "$build_log" | build_progress; then
        tail -n 25 "$build_log" >&2
        fail "the build failed; see $build_log"
    fi
    say "done"
}

check_programs() {
    local program
    for program in nserver nsfdb zelrep; do
        [ -x "$bin/$program$exe" ] || fail "$bin/$program$exe is missing: build first, or run without --no-build"
    done
}

# ---- nsfdb ---------------------------------------------------------------

# Windows programs end their lines with CR LF.
nsfdb() { "${launcher[@]}" "$bin/nsfdb$exe" --data "$data_arg" "$@" | tr -d '\r'; }

# The UNID of the one directory document holding ITEM=VALUE.
unid_of() { nsfdb find names.nsf "$1"; }

add_document() { nsfdb put names.nsf - >/dev/null; }

# update ITEM=VALUE ITEMS_JSON [NSFDB_OPTION...]: replaces the given items
# of the document found by ITEM=VALUE.
update_document() {
    local unid
    unid=$(unid_of "$1")
    printf '{"unid": "%s", "items": %s}\n' "$unid" "$2" | nsfdb "${@:3}" put names.nsf - >/dev/null
}

delete_document() {
    local unid
    unid=$(unid_of "$1")
    nsfdb delete names.nsf "$unid"
}

documents_in() { nsfdb info "$1" | sed -n 's/^Documents: //p'; }

# change KIND DESCRIPTION: one line of the change list.
change() { printf '      %-13s %s\n' "$1" "$2"; }

# ---- the server console --------------------------------------------------

server_pid=
mark=0
awaited=

start_console() {
    local input=$data/console.in
    mkfifo "$input"
    "${launcher[@]}" "$bin/nserver$exe" --data "$data_arg" <"$input" >/dev/null 2>"$data/nserver.err" &
    server_pid=$!
    exec 3>"$input"
}

server_running() { [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; }

# Types a console command.
send() {
    server_running || fail "nserver is not running; see $data/nserver.err and $log"
    say "> $*"
    printf '%s\n' "$*" >&3
}

# Later waits look only at console log lines written from here on.
mark_log() { mark=$( (wc -l <"$log") 2>/dev/null || echo 0); }

# await SECONDS REGEX: waits for a console log line after the mark that
# matches REGEX (awk syntax), keeps it in $awaited and moves the mark to it.
# Whether nserver runs is asked before the log is read: a line it wrote
# just before it ended is then still found.
await() {
    local deadline=$((SECONDS + $1)) found running
    while :; do
        running=true
        server_running || running=false
        found=$(pattern=$2 awk -v from="$mark" \
            'NR > from && $0 ~ ENVIRON["pattern"] { print NR "\t" $0; exit }' "$log" 2>/dev/null || true)
        if [ -n "$found" ]; then
            mark=${found%%$'\t'*}
            awaited=${found#*$'\t'}
            return 0
        fi
        $running || fail "nserver ended unexpectedly; see $log"
        [ "$SECONDS" -lt "$deadline" ] || fail "no console line matching '$2' within $1 s; see $log"
        sleep 0.2
    done
}

await_and_show() {
    await "$@"
    show_line "$awaited"
}

# Shows the console log lines from the one matching FIRST to the one
# matching LAST (both after the mark).
await_block() {
    local first last
    await "$1" "$2"
    first=$mark
    await "$1" "$3"
    last=$mark
    sed -n "${first},${last}p" "$log" | while IFS= read -r line; do show_line "$line"; done
}

# Ends the console: end of input makes it stop every task and quit.
stop_console() {
    exec 3>&- 2>/dev/null || true
    for _ in $(seq 100); do
        server_running || break
        sleep 0.2
    done
    server_running && kill "$server_pid" 2>/dev/null
    server_pid=
}

cleanup() {
    if server_running; then stop_console; fi
    rm -f "$data/console.in"
    [ -s "$data/nserver.err" ] || rm -f "$data/nserver.err"
}
trap cleanup EXIT

# ---- the steps -------------------------------------------------------------

create_sample() {
    step "Sample directory: $PEOPLE_COUNT people and $GROUP_COUNT groups (seed $SEED)"
    local created
    created=$(nsfdb sample names.nsf --people "$PEOPLE_COUNT" --groups "$GROUP_COUNT" --seed "$SEED")
    say "$created"
}

create_instance() {
    step "Instance $INSTANCE in zelrpcfg.nsf: names.nsf to dirupd.nsf every $SCHEDULE_SECONDS seconds"
    nsfdb instance zelrpcfg.nsf "$INSTANCE" --input names.nsf --output dirupd.nsf \
        --filter demo/filter.xml --schedule "$SCHEDULE_SECONDS" SECONDS \
        --loop-detect-id "$SYNC_AGENT" --loop-detect on --trace NORMAL >/dev/null
    say "publisher filter: demo/filter.xml (Person and Group attributes)" \
        "loop detection: changes made by $SYNC_AGENT are not published"
}

load_task() {
    step "Server console: nserver, then the task"
    start_console
    mark_log
    send "load zelrep $INSTANCE"
    await_and_show 20 "$INSTANCE:  Initialization Complete"
}

migrate() {
    step "Migration: every person and group is published as an add"
    mark_log
    send "tell $INSTANCE MIGRATE ON"
    await_and_show 60 " [1-9][0-9]* entries found, [0-9]+ updated"
}

suspend_task() {
    mark_log
    send "tell $INSTANCE SUSPEND"
    await_and_show 20 "$INSTANCE:  Suspended"
}

change_directory() {
    add_document <<'EOF'
{"items": {"Form": "Person", "Type": "Person",
  "FullName": ["CN=Jane Doe/OU=East/OU=Sales/O=Acme", "Jane Doe/East/Sales/Acme", "Jane Doe", "jdoe"],
  "FirstName": "Jane", "LastName": "Doe", "ShortName": "jdoe",
  "InternetAddress": "jane.doe@acme.example.com", "MailAddress": "",
  "OfficePhoneNumber": "+1 555 010 1000", "Department": "Sales",
  "CompanyName": "Acme Corporation", "JobTitle": "Account Manager", "Location": "Boston"}}
EOF
    change "add" "person Jane Doe/East/Sales/Acme"

    add_document <<'EOF'
{"items": {"Form": "Group", "Type": "Group", "ListName": "Demo Launch Team", "GroupType": "0",
  "ListDescription": "Everyone who launches the demo",
  "Members": ["CN=Jane Doe/OU=East/OU=Sales/O=Acme", "CN=Carlos Bennett/OU=Finance/O=Acme"],
  "InternetAddress": "demo-launch-team@acme.example.com"}}
EOF
    change "add" "group Demo Launch Team (Jane Doe, Carlos Bennett)"

    update_document ShortName=cbennett '{"JobTitle": "Team Lead", "OfficePhoneNumber": "+1 555 010 2000"}'
    change "modify" "Carlos Bennett: new job title and phone number"

    update_document ShortName=rgray '{"MailAddress": ""}'
    change "modify" "Robert W. Gray: forwarding mail address cleared"

    update_document ShortName=ejackson '{"FullName": ["CN=Emma Clarke/OU=APAC/OU=Support/O=Acme",
        "Emma Clarke/APAC/Support/Acme", "Emma Clarke", "ejackson"], "LastName": "Clarke",
        "InternetAddress": "emma.clarke@acme.example.com"}'
    change "rename" "Emma Jackson becomes Emma Clarke"

    update_document ShortName=mroberts '{"FullName": ["CN=Matthew Roberts/OU=Engineering/O=Acme",
        "Matthew Roberts/Engineering/Acme", "Matthew Roberts", "mroberts"], "Department": "Engineering"}'
    change "move" "Matthew Roberts from Finance to Engineering"

    update_document ListName=LocalDomainServers '{"Members": ["CN=Mail01/O=Acme", "CN=Mail02/O=Acme",
        "CN=Mail03/O=Acme", "CN=Mail04/O=Acme", "CN=Mail05/O=Acme"]}'
    change "membership" "LocalDomainServers: CN=Mail05/O=Acme joins"

    delete_document ShortName=wjensen
    change "delete" "person William B. Jensen"

    delete_document "ListName=Office Munich Announcements"
    change "delete" "group Office Munich Announcements"

    update_document ShortName=dfischer '{"JobTitle": "Director"}' --as "$SYNC_AGENT"
    change "loop" "Daniel Fischer's job title, changed by $SYNC_AGENT: not published"

    update_document ShortName=gnunez '{"Location": "Remote"}'
    change "unfiltered" "George Núñez's location, outside the filter: not published"
}

make_changes() {
    step "Directory changes, made while the task is suspended so that one pass takes them all"
    suspend_task
    published_before=$(documents_in dirupd.nsf)
    change_directory
}

publish() {
    step "The next scheduled pass publishes the changes"
    mark_log
    send "tell $INSTANCE RESUME"
    await_and_show 20 "$INSTANCE:  Resuming process"
    await_and_show $((SCHEDULE_SECONDS * 5 + 10)) " [1-9][0-9]* entries found, [0-9]+ updated"
}

show_documents() {
    step "Change documents of that pass (nsfdb dump dirupd.nsf --format table --skip $published_before)"
    echo
    nsfdb dump dirupd.nsf --format table --skip "$published_before"
}

show_config() {
    step "The task's configuration"
    mark_log
    send "tell $INSTANCE SHOWCONFIG"
    await_block 20 "== ZELREP v" "completed the last update on"
}

quit_console() {
    step "Quit: the console stops the task"
    mark_log
    send "quit"
    await_and_show 30 "Addin Process Exited"
    exec 3>&-
    local status=0
    wait "$server_pid" || status=$?
    server_pid=
    [ "$status" -eq 0 ] || fail "nserver ended with status $status; see $log"
    await_and_show 10 "Server console stopped"
}

summary() {
    local shown_data=${data#"$caller_dir"/}
    local shown_bin=${bin#"$caller_dir"/}
    printf '\nDemo finished in %d s. Data directory: %s\n' $((SECONDS - started)) "$shown_data"
    say "console log (every line the task wrote):  $shown_data/console.log" \
        "every change document:                    $shown_bin/nsfdb --data $shown_data dump dirupd.nsf --format table"
}

reset_data_dir
if [ "$build" -eq 1 ]; then
    build_programs
else
    step "Build skipped (--no-build); programs from ${bin#"$root"/}"
fi
check_programs
create_sample
create_instance
load_task
migrate
make_changes
publish
show_documents
show_config
quit_console
summary
