# Our own code builds without a warning; third-party headers come in as system headers.
# Warnings stop the build in the development and CI presets (CMAKE_COMPILE_WARNING_AS_ERROR),
# never in a release or package build, which a newer compiler with new warnings must still make.
function(glomper_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion)
endfunction()

# Only with the compilers of the releases we check (Debian 12, 13 and testing): a newer
# compiler's new warning is for us to look at, not a reason to fail a newcomer's build.
set(GLOMPER_CHECKED_GCC 12 14 16)
if(CMAKE_COMPILE_WARNING_AS_ERROR)
  string(REGEX MATCH "^[0-9]+" _glomper_gcc "${CMAKE_CXX_COMPILER_VERSION}")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT _glomper_gcc IN_LIST GLOMPER_CHECKED_GCC)
    list(JOIN GLOMPER_CHECKED_GCC ", " _glomper_checked)
    message(STATUS "Warnings are not errors with ${CMAKE_CXX_COMPILER_ID} "
                   "${CMAKE_CXX_COMPILER_VERSION}; they are with GCC ${_glomper_checked}")
    set(CMAKE_COMPILE_WARNING_AS_ERROR OFF)
  endif()
endif()
