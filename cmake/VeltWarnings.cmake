# Warnings are errors in every target of ours.
function(velt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
