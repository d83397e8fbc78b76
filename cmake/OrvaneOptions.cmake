# Compiler settings shared by every target of the project.
add_library(orvane_build_options INTERFACE)
target_compile_options(orvane_build_options INTERFACE
  -Wall -Wextra -Wpedantic
  # Sample arithmetic must come out the same whatever the target CPU: no fused multiply-adds.
  -ffp-contract=off)
if(ORVANE_WARNINGS_AS_ERRORS)
  target_compile_options(orvane_build_options INTERFACE -Werror)
endif()

if(ORVANE_SANITIZE)
  target_compile_options(orvane_build_options INTERFACE
    -fsanitize=${ORVANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  if(ORVANE_SANITIZE MATCHES "undefined")
    target_compile_options(orvane_build_options INTERFACE -fsanitize=float-cast-overflow)
  endif()
  target_link_options(orvane_build_options INTERFACE -fsanitize=${ORVANE_SANITIZE})
endif()

# Coverage feedback for libFuzzer in every target; the fuzzer binaries add the fuzzer's main.
if(ORVANE_BUILD_FUZZERS)
  target_compile_options(orvane_build_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Project-internal targets link this privately; it is never exported.
function(orvane_use_build_options target)
  target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:orvane_build_options>)
endfunction()
