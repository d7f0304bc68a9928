# LEAFHAUL_SANITIZE (e.g. "address,undefined") builds every target with those
# sanitizers. Their reports stay recoverable at build time so that a
# suppressions file can exempt a system header; the run halts on the first
# report that is not suppressed (UBSAN_OPTIONS=halt_on_error=1, as
# scripts/test --sanitize sets it). LEAFHAUL_WERROR turns warnings into errors.
if(LEAFHAUL_SANITIZE)
  add_compile_options(-fsanitize=${LEAFHAUL_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${LEAFHAUL_SANITIZE})
  # The instrumentation hides initialisations from gcc's flow analysis: it
  # then warns of uninitialised members in std::optional that a build
  # without sanitizers does not.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()
if(LEAFHAUL_WERROR)
  add_compile_options(-Werror)
endif()
