# The project's own targets build with warnings as errors; third-party code
# (GoogleTest) keeps its own flags. A build from the Python source
# distribution keeps the warnings but not the errors: a compiler newer than
# ours may warn of something new, and a user's install should not fail for it.
option(VAREK_WARNINGS_AS_ERRORS "Treat the project's warnings as errors" ON)

function(varek_strict target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wcast-align -Wnull-dereference
    $<$<BOOL:${VAREK_WARNINGS_AS_ERRORS}>:-Werror>
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>)
endfunction()
