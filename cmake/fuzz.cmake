# Instrumentation of the fuzz build (tests/fuzz): libFuzzer coverage without its main,
# AddressSanitizer, and UndefinedBehaviorSanitizer made fatal so that undefined behaviour
# is recorded as a crash with its input rather than a line in the log.
function(quolva_fuzz_instrument target)
    target_compile_options(${target} PRIVATE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
        -fno-omit-frame-pointer -g -Wall -Wextra -Wno-unused-parameter)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
endfunction()
