# Runs one QML test function that breaks an assertion and checks that the process ended
# right there: exit status 1, the assertion's message with a stack trace, and no test
# summary (a test that merely failed would also exit with 1, but after its totals).
# The QML console goes through the test logger, which writes to stdout; both streams are
# searched.
#
# cmake -DRUNNER=<qml_test> -DINPUT=<file.qml> -DFUNCTION=<Case::function> -DMESSAGE=<text> -P expect-assert-exit.cmake

execute_process(
    COMMAND ${RUNNER} -input ${INPUT} ${FUNCTION}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)

message("--- stdout\n${out}--- stderr\n${err}---")

if(NOT status STREQUAL "1")
    message(FATAL_ERROR "expected exit status 1, got ${status}")
endif()
set(all "${out}${err}")
string(FIND "${all}" "${MESSAGE}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "\"${MESSAGE}\" was not logged")
endif()
string(FIND "${all}" "assert (qrc:/qml/util.js:" at)
if(at EQUAL -1)
    message(FATAL_ERROR "no stack trace from the assertion")
endif()
if(out MATCHES "Totals:")
    message(FATAL_ERROR "the test ran to its end instead of exiting on the assertion")
endif()
if(all MATCHES "after the failed assertion")
    message(FATAL_ERROR "code after the failed assertion ran")
endif()
