# Warnings are set per target, so resource and script targets (windres) never see them.
function(qavel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<BOOL:${QAVEL_WERROR}>:-Werror>)
endfunction()
