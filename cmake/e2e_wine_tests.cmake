# Read by ctest in the Windows build (through a file the build writes that
# sets E2E_PROGRAM, the native build's e2e program, and E2E_SETTINGS, what
# it runs under Wine): one test per end-to-end case, listed from the
# program when ctest starts, so that a case added there needs no new
# configure here. Each runs as ctest's native e2e tests do, labelled e2e.
execute_process(COMMAND "${E2E_PROGRAM}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  # A test that fails and shows why, rather than none at all.
  add_test(e2e_wine.listing "${E2E_PROGRAM}" --gtest_list_tests)
  return()
endif()
string(REPLACE ";" "" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE " *#.*" "" line "${line}")
  if(line MATCHES "^([^ ].*)\\.$")
    set(suite "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  ([^ ]+)$")
    set(name "${suite}.${CMAKE_MATCH_1}")
    add_test(e2e_wine.${name} "${E2E_PROGRAM}" --gtest_filter=${name})
    set_tests_properties(e2e_wine.${name} PROPERTIES LABELS e2e
      SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
      ENVIRONMENT "WINEDEBUG=-all;TRELVIK_E2E_SETTINGS=${E2E_SETTINGS}")
  endif()
endforeach()
