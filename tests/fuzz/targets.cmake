# The fuzz targets, each built from <name>_fuzz.cpp with its seeds in corpus/<name>/.
set(TEV_FUZZ_TARGETS http_status http_exchange status_page ipv4 version listener session)
