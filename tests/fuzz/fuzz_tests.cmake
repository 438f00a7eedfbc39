# libFuzzer over the hand-off file reader. The test suite replays its seeds,
# the sample files of samples/, then fuzzes for FUZZ_SECONDS; scripts/fuzz.sh
# runs it for longer.

set(FUZZ_SECONDS 60 CACHE STRING "How long the test suite fuzzes")
set(FUZZ_MAX_LEN 600)

add_executable(profile_text_fuzzer
  fuzz/profile_text_fuzzer.cpp
  unit/fake_port.cpp)
target_link_libraries(profile_text_fuzzer PRIVATE profile_core project_warnings)
# Its sources include the tests' headers by their folder, as the unit tests do.
target_include_directories(profile_text_fuzzer PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_options(profile_text_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)

set(seed_corpus ${PROJECT_SOURCE_DIR}/samples)
set(grown_corpus ${CMAKE_BINARY_DIR}/fuzz-corpus)
set(crash_dir ${CMAKE_BINARY_DIR}/fuzz-crashes)
file(MAKE_DIRECTORY ${grown_corpus} ${crash_dir})

add_test(NAME fuzz.replay_seed_corpus
  COMMAND profile_text_fuzzer -runs=0 ${seed_corpus})
# New inputs go to the build tree's corpus; the seeds are only read.
add_test(NAME fuzz.bounded_run
  COMMAND profile_text_fuzzer -max_len=${FUZZ_MAX_LEN} -max_total_time=${FUZZ_SECONDS}
    -timeout=10 -print_final_stats=1 -artifact_prefix=${crash_dir}/
    ${grown_corpus} ${seed_corpus})
set_tests_properties(fuzz.bounded_run PROPERTIES
  DEPENDS fuzz.replay_seed_corpus TIMEOUT 1800)
