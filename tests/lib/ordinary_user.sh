# Running a program as an ordinary user (nobody, uid 65534, no groups and no capabilities), as a
# user without root runs the upgrader. Source it from a test that runs as root, and call
# remove_ordinary_user_copies when the test ends (sandbox.sh's exit trap does).

AS_ORDINARY_USER=(setpriv --reuid 65534 --regid 65534 --clear-groups)
ORDINARY_USER_COPIES=()

# ordinary_user_folder: sets ORDINARY_USER_FOLDER to a fresh folder under /tmp that the ordinary
# user owns, for what it writes (a log).
ordinary_user_folder() {
    ORDINARY_USER_FOLDER=$(mktemp -d /tmp/tev-ordinary-user.XXXXXX)
    ORDINARY_USER_COPIES+=("$ORDINARY_USER_FOLDER")
    chmod 755 "$ORDINARY_USER_FOLDER"
    chown 65534:65534 "$ORDINARY_USER_FOLDER"
}

# ordinary_user_program PROGRAM: sets ORDINARY_USER_PROGRAM to a path of PROGRAM the ordinary
# user may run: PROGRAM itself when every folder above it lets that user through (a build tree in
# a private home folder does not), else a copy in a fresh folder under /tmp.
ordinary_user_program() {
    local program=$1 folder
    ORDINARY_USER_PROGRAM=$program
    "${AS_ORDINARY_USER[@]}" test -x "$program" && return
    folder=$(mktemp -d /tmp/tev-ordinary-user.XXXXXX)
    ORDINARY_USER_COPIES+=("$folder")
    chmod 755 "$folder"
    cp "$program" "$folder/"
    ORDINARY_USER_PROGRAM=$folder/$(basename "$program")
    chmod 755 "$ORDINARY_USER_PROGRAM"
}

remove_ordinary_user_copies() {
    local folder
    for folder in "${ORDINARY_USER_COPIES[@]}"; do rm -rf "$folder"; done
    ORDINARY_USER_COPIES=()
}
