# Warnings are errors for our own code, per target; third-party headers come in
# as system includes and stay quiet.
function(talvenor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
