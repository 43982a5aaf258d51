# Our own code builds without a warning; third-party headers come in as system headers.
function(glomper_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
