# LOOMSET_SANITIZE: the sanitizers every target of the build (library, tests, tools, examples) is
# compiled and linked with. Empty by default; "address;undefined" or "thread" (ThreadSanitizer
# cannot be combined with AddressSanitizer). Failures stop the program instead of being
# reported and skipped, so a test run fails on the first finding.
set(LOOMSET_SANITIZE "" CACHE STRING
  "Sanitizers for the whole build: empty, \"address;undefined\" or \"thread\"")

if(LOOMSET_SANITIZE)
  set(_loomset_known address undefined thread)
  foreach(_sanitizer IN LISTS LOOMSET_SANITIZE)
    if(NOT _sanitizer IN_LIST _loomset_known)
      message(FATAL_ERROR "LOOMSET_SANITIZE: unknown sanitizer '${_sanitizer}' "
                          "(use \"address;undefined\" or \"thread\")")
    endif()
  endforeach()
  if("thread" IN_LIST LOOMSET_SANITIZE AND "address" IN_LIST LOOMSET_SANITIZE)
    message(FATAL_ERROR "LOOMSET_SANITIZE: \"thread\" cannot be combined with \"address\"")
  endif()

  list(JOIN LOOMSET_SANITIZE "," _loomset_sanitizers)
  set(_loomset_flags -fsanitize=${_loomset_sanitizers} -fno-omit-frame-pointer)
  if("undefined" IN_LIST LOOMSET_SANITIZE)
    list(APPEND _loomset_flags -fno-sanitize-recover=all)
  endif()
  add_compile_options(${_loomset_flags})
  add_link_options(${_loomset_flags})
  message(STATUS "Loomset: building with -fsanitize=${_loomset_sanitizers}")
endif()
