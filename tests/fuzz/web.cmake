# Header parsers of the management server.
wayfarer_fuzzer(http_headers_fuzz_test SOURCES http_headers_fuzz_test.cpp LIBS wf_http)
