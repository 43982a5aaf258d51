# Our own code builds without a warning; third-party headers come in as system headers.
# Warnings stop the build in the development and CI presets (CMAKE_COMPILE_WARNING_AS_ERROR),
# never in a release or package build, which a newer compiler with new warnings must still make.
function(glomper_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion)
endfunction()
