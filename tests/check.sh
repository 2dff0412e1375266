# check.sh - sourced by the shell tests: check WHAT GOT WANT counts a passed or
# a failed comparison and prints what differed; the test ends with
# "N passed, M failed" and the status of ((failed == 0)).
passed=0 failed=0
check() {
    if [[ $2 == "$3" ]]; then
        ((passed++))
    else
        printf 'FAIL: %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
        ((failed++))
    fi
}
