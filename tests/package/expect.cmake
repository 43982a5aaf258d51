# Shared by the check scripts: collect every mismatch, then fail once with all of them.
# Functions, not macros, so that regular expressions are not expanded twice.
set(_problems "")

function(problem text)
  set(_problems "${_problems}\n  ${text}" PARENT_SCOPE)
endfunction()

function(expect_equal what actual expected)
  if(NOT actual STREQUAL expected)
    set(_problems "${_problems}\n  ${what}: '${actual}', expected '${expected}'" PARENT_SCOPE)
  endif()
endfunction()

function(expect_match what actual regex)
  if(NOT actual MATCHES "${regex}")
    set(_problems "${_problems}\n  ${what}: '${actual}' does not match '${regex}'" PARENT_SCOPE)
  endif()
endfunction()

function(expect_no_match what actual regex)
  if(actual MATCHES "${regex}")
    set(_problems "${_problems}\n  ${what}: '${actual}' matches '${regex}'" PARENT_SCOPE)
  endif()
endfunction()

function(run_output out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(report)
  if(_problems)
    message(FATAL_ERROR "${_problems}")
  endif()
endfunction()
