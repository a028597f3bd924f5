# Warnings are errors for every target of the project (not for third-party
# code such as GoogleTest).
function(dov_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)
endfunction()
