# Test registration helpers.
#
# kestrova_add_test(NAME SOURCES ... LIBS ... LABELS ... [SANITIZE] [WRAPPER cmd ...]
#                   [ENVIRONMENT VAR=value ...] [TIMEOUT s])
#   A GoogleTest executable registered with CTest. In a sanitizer build only the tests
#   marked SANITIZE are created; in the normal build all of them are.
# kestrova_add_fuzzer(NAME SOURCES ... LIBS ... SECONDS n [SEEDS dir] [ARGS ...])
#   A libFuzzer target, created only in the sanitizer build, run for a bounded time as
#   a test labelled "fuzz", starting from the seed inputs in SEEDS.

find_package(GTest REQUIRED)

function(kestrova_add_test name)
    cmake_parse_arguments(T "SANITIZE;NO_GTEST_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS;WRAPPER;ENVIRONMENT;ARGS" ${ARGN})
    if(KESTROVA_SANITIZE AND NOT T_SANITIZE)
        return()
    endif()
    add_executable(${name} ${T_SOURCES})
    if(T_NO_GTEST_MAIN)
        target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
    else()
        target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    endif()
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}> ${T_ARGS})
    set(labels ${T_LABELS})
    if(KESTROVA_SANITIZE)
        list(APPEND labels sanitize)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "${T_ENVIRONMENT}")
endfunction()

function(kestrova_add_fuzzer name)
    cmake_parse_arguments(F "" "SECONDS;SEEDS" "SOURCES;LIBS;ARGS" ${ARGN})
    if(NOT KESTROVA_SANITIZE)
        return()
    endif()
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    add_test(NAME ${name}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0
            LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp
            $<TARGET_FILE:${name}> -max_total_time=${F_SECONDS} -print_final_stats=1
            -timeout=10 -rss_limit_mb=2048 ${F_ARGS} -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}- ${corpus})
    file(MAKE_DIRECTORY ${corpus})
    if(F_SEEDS)
        file(GLOB seeds ${F_SEEDS}/*)
        file(COPY ${seeds} DESTINATION ${corpus})
    endif()
    math(EXPR timeout "${F_SECONDS} + 120")
    set_tests_properties(${name} PROPERTIES LABELS "fuzz;sanitize" TIMEOUT ${timeout})
endfunction()
