# Sourced by the test scripts' shared helpers: a sanitizer report ends a program with a status of
# its own (86 AddressSanitizer, 87 UndefinedBehaviorSanitizer), never the 1 of a failed upgrade,
# also when a script is run by hand; options already set are kept (the last setting wins).
case ":${ASAN_OPTIONS:-}:" in *:exitcode=86:*) ;; *) export ASAN_OPTIONS="${ASAN_OPTIONS:-}:exitcode=86" ;; esac
case ":${UBSAN_OPTIONS:-}:" in *:exitcode=87:*) ;; *) export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}:exitcode=87" ;; esac

# sanitizer_report FILE: true when FILE holds a sanitizer's report.
sanitizer_report() {
    grep -qE '(ERROR|SUMMARY): (Address|Leak|UndefinedBehavior)Sanitizer|runtime error: ' "$1" 2>/dev/null
}
