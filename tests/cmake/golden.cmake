# foldquest_add_golden_cases(program exe): one ctest per folder under
# tests/golden/<program>/.  A case folder holds:
#   stdin            the answers typed at the console
#   stdout           the expected standard output
#   status           the expected exit status (optional, default 0)
#   stderr           the expected standard error (optional)
#   files/           data files copied into the working folder first (optional)
#   expect/          files the run must leave in the working folder (optional)
# The run happens in a fresh folder under the build tree; on a mismatch the
# actual output stays there and a diff is shown.  A TIMEOUT turns a program
# that loops on a closed standard input into a failure instead of a hang.
function(foldquest_add_golden_cases program exe)
  file(GLOB _cases LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/golden/${program}/*)
  foreach(case ${_cases})
    if(IS_DIRECTORY ${case} AND EXISTS ${case}/stdin)
      get_filename_component(name ${case} NAME)
      add_test(NAME golden.${program}.${name}
               COMMAND ${CMAKE_COMMAND} -E env bash ${CMAKE_CURRENT_SOURCE_DIR}/cmake/run_golden.sh
                       ${exe} ${case} ${CMAKE_CURRENT_BINARY_DIR}/golden/${program}/${name})
      set_tests_properties(golden.${program}.${name} PROPERTIES TIMEOUT 60)
    endif()
  endforeach()
endfunction()
