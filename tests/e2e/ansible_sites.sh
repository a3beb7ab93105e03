#!/usr/bin/env bash
# The Ansible playbook of deploy/ansible over three sites, each site host this machine
# (ansible_connection: local), their adapters tev-device instances, the password in a vault: check
# mode reads every site and sends no device a command; the staged run upgrades site_a, then
# site_b (one adapter there already current, and a handset given its own image through
# tev_images), then fails site_c, whose canary refuses the
# password, so ansible-playbook ends 2 with site_c to retry, and the summary lists every device
# with its site; the password never stands on a command line; a second run of the two good sites
# changes nothing and sends no command. A device's product name that looks like a template reaches
# the summary as text, never evaluated.
DEPLOY=$(cd "$(dirname "$0")/../../deploy/ansible" && pwd)
source "$(dirname "$0")/e2e_lib.sh"
PASSWORD='site pw 7'
HOSTILE="TEV \"4400\", {{ lookup('pipe', 'touch evaluated') }}"

current=$(image_version "$TARGET_IMAGE")
for i in 2 3 4 7 8; do
    options=(--flash-time 1 --user admin --password "$PASSWORD")
    [ $i = 3 ] && options+=(--product-name "$HOSTILE")
    [ $i = 7 ] && options=(--flash-time 1 --user admin --password 'another')
    start_device dev$i 127.0.0.$i "${options[@]}"
done
start_device dev5 127.0.0.5 --flash-time 1 --user admin --password "$PASSWORD" \
    --software-version "$current"
start_device dev6 127.0.0.6 --model handset --flash-time 1 --user admin --password "$PASSWORD"

mkdir -p inventory/group_vars/tev_sites home
cat >inventory/hosts.yml <<EOF
tev_sites:
  hosts:
    site_a: {tev_devices: [127.0.0.2 desk one, 127.0.0.3]}
    site_b: {tev_devices: [127.0.0.4, 127.0.0.5, 127.0.0.6], tev_images: [$HANDSET_IMAGE]}
    site_c: {tev_devices: [127.0.0.7, 127.0.0.8], tev_canary: 1}
  vars:
    ansible_connection: local
    ansible_python_interpreter: /usr/bin/python3
    tev_program: $UPGRADE
    tev_dir: "$WORK/{{ inventory_hostname }}"
    tev_reports: $WORK/reports
    tev_summary: $WORK/summary.csv
EOF
echo 'vault key' >vault-key
printf 'tev_password: "%s"\n' "$PASSWORD" >inventory/group_vars/tev_sites/vault.yml
export HOME=$WORK/home ANSIBLE_CONFIG=$DEPLOY/ansible.cfg ANSIBLE_RETRY_FILES_SAVE_PATH=$WORK \
    ANSIBLE_LOCAL_TEMP=$WORK/home/local-tmp ANSIBLE_REMOTE_TMP=$WORK/home/remote-tmp \
    ANSIBLE_NOCOLOR=1 ANSIBLE_VAULT_PASSWORD_FILE=$WORK/vault-key
ansible-vault encrypt inventory/group_vars/tev_sites/vault.yml >/dev/null || fail "ansible-vault"

# playbook NAME ARGS...: ansible-playbook in the background (NAME.out); finish_upgrade NAME STATUS
# waits for it and checks its status.
playbook() {
    local name=$1
    shift
    ( set +e; timeout 400 ansible-playbook -i inventory "$DEPLOY/site-upgrade.yml" "$@" \
        </dev/null >"$name.out" 2>&1; echo $? >"$name.status" ) &
    RUN_PID[$name]=$!
}
# recap NAME SITE TEXT: the play recap's line of SITE holds TEXT.
recap() { grep -E "^$2 +: .*$3" "$1.out" >/dev/null || fail "$1: $2 not $3"; }
site_of() { case $1 in 2 | 3) echo site_a ;; 4 | 5 | 6) echo site_b ;; *) echo site_c ;; esac; }
# commands COUNT N...: each device 127.0.0.N got COUNT upgrade commands so far.
commands() {
    local count=$1 i
    shift
    for i; do [ "$(count_logged "dev$i" "http: GET /admin/upgrade")" = "$count" ] ||
        fail "127.0.0.$i got other than $count commands"; done
}
# summary RESULT...: the summary's header, then a record per device from 127.0.0.2 on, each with
# its RESULT, its image and its site in the last cell.
summary() {
    local i=2 result
    head -n1 summary.csv | grep -qxF "address,label,product,mac,serial,hardware,version_before,version_after,result,reason,image,seconds,seconds_status,seconds_transfer,seconds_flash,attempts,site" ||
        fail "summary: header $(head -n1 summary.csv)"
    [ "$(wc -l <summary.csv)" = $(($# + 1)) ] || fail "summary: not $# devices"
    for result; do
        grep -qE "^127\.0\.0\.$i,.*,$result,(\"([^\"]|\"\")*\"|[^,]*),[^,]*,[0-9.]*(,[0-9.]*){3},[01],\"$(site_of $i)\"\$" summary.csv ||
            fail "summary: 127.0.0.$i not $result at $(site_of $i)"
        i=$((i + 1))
    done
}

playbook check --check
finish_upgrade check 2
commands 0 2 3 4 5 6 7 8
recap check site_a failed=0 && recap check site_c failed=1
summary needs-upgrade needs-upgrade needs-upgrade current needs-upgrade failed needs-upgrade
grep -q '^127\.0\.0\.6,.*,needs-upgrade,,TEV-610 1\.5\.0,' summary.csv || fail "summary: the handset's image"

playbook real
# While site_a's devices write their flash, no command line holds the password.
has_line_within dev2.log 200 -F "flash: writing" || fail "real: site_a not upgraded"
for f in /proc/[0-9]*/cmdline; do
    line=$(tr '\0' ' ' 2>/dev/null <"$f") || continue
    [[ $line != "$DEVICE "* && $line == *"$PASSWORD"* ]] || continue
    fail "real: the password on the command line of: ${line:0:200}"
done
finish_upgrade real 2
[ "$(grep -c '^PLAY \[Upgrade the TEV devices of each site\]' real.out)" = 3 ] ||
    fail "real: not three batches"
[ "$(cat site-upgrade.retry)" = site_c ] || fail "real: retry file $(cat site-upgrade.retry)"
for i in 2 3 4; do expect_image dev$i "$TARGET_IMAGE"; done
expect_image dev6 "$HANDSET_IMAGE"
commands 0 5 7 8
recap real site_a 'changed=1 .* failed=0' && recap real site_b 'changed=1 .* failed=0' &&
    recap real site_c failed=1
summary verified verified verified current verified failed not-started
grep -q "^127.0.0.2,desk one," summary.csv || fail "summary: no label"
grep -qF "127.0.0.3,,\"TEV \"\"4400\"\", {{ lookup('pipe', 'touch evaluated') }}\"," summary.csv ||
    fail "summary: the product name of 127.0.0.3 altered"
[ ! -e evaluated ] || fail "a device's text was evaluated as a template"

playbook again --limit site_a,site_b
finish_upgrade again 0
recap again site_a 'changed=0 ' && recap again site_b 'changed=0 '
commands 1 2 3 4 6
summary current current current current current
echo ok
