# tarsel_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 LABELS unit [TIMEOUT s] [ENV K=V ...]
#                 [NOT_SANITIZED])
# Every test is declared the same way: one QtTest executable, its libraries and its labels.
function(tarsel_add_test name)
    cmake_parse_arguments(T "NOT_SANITIZED" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    # Sanitizer builds run the unit and integration tests only (scripts/test --asan, --tsan): the
    # other tests, and those marked NOT_SANITIZED, stay declared, so their directories configure,
    # but are neither built nor run.
    if((TARSEL_ASAN OR TARSEL_TSAN) AND (T_NOT_SANITIZED OR NOT T_LABELS MATCHES "unit|integration"))
        add_executable(${name} EXCLUDE_FROM_ALL ${T_SOURCES})
        target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
        return()
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
    if(T_ENV)
        set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
    endif()
endfunction()
