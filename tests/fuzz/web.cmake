# Header parsers of the management server.
wayfarer_fuzzer(http_headers_fuzz_test SOURCES http_headers_fuzz_test.cpp LIBS wf_http)
# Request heads as both ports read them before any handler runs, and the byte ranges they share.
wayfarer_fuzzer(request_head_fuzz_test SOURCES request_head_fuzz_test.cpp LIBS wf_http)
