# Read by ctest before it runs any row (TEST_INCLUDE_FILES of tests/): every row, and every program
# a row starts, inherits these. A sanitizer report ends the program with a status of its own, 86
# (AddressSanitizer) or 87 (UndefinedBehaviorSanitizer), never the 1 of a failed upgrade; options
# the caller already set are kept (the last setting of an option wins).
set(ENV{ASAN_OPTIONS} "$ENV{ASAN_OPTIONS}:exitcode=86")
set(ENV{UBSAN_OPTIONS} "$ENV{UBSAN_OPTIONS}:exitcode=87")
