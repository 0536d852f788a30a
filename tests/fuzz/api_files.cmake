# Codec and CSV parsers fed with what browsers and operators send.
wayfarer_fuzzer(EntityJson_fuzz_test SOURCES EntityJson_fuzz_test.cpp LIBS wf_api)
wayfarer_fuzzer(CsvOpt_fuzz_test SOURCES CsvOpt_fuzz_test.cpp LIBS wf_files)
