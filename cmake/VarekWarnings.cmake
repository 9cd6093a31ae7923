# The project's own targets build with warnings as errors; third-party code
# (GoogleTest) keeps its own flags.
function(varek_strict target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wcast-align -Wnull-dereference -Werror
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>)
endfunction()
