# The workbook readers (zip + XML, and the binary format) behind the file engine's open.
wayfarer_fuzzer(workbook_fuzz_test SOURCES workbook_fuzz_test.cpp LIBS wf_files)
