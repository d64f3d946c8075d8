# Checks that a shared library exports exactly the functions its header
# declares with QUORVEL_C_API. Run with
#   cmake -DLIBRARY=... -DHEADER=... -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                RESULT_VARIABLE rc OUTPUT_VARIABLE nm_output ERROR_VARIABLE nm_error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -D failed on ${LIBRARY}: ${nm_error}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" exported "${nm_output}")
list(TRANSFORM exported STRIP)
list(SORT exported)

file(READ ${HEADER} header)
string(REGEX MATCHALL "QUORVEL_C_API[^;(]*quorvel_[a-z0-9_]+[ \n]*\\(" declared
       "${header}")
list(TRANSFORM declared REPLACE "^.*(quorvel_[a-z0-9_]+)[ \n]*\\($" "\\1")
list(SORT declared)

if(NOT exported STREQUAL declared)
  set(extra ${exported})
  list(REMOVE_ITEM extra ${declared})
  set(missing ${declared})
  list(REMOVE_ITEM missing ${exported})
  message(FATAL_ERROR "exports of ${LIBRARY} differ from ${HEADER}\n"
                      "  exported, not declared: ${extra}\n"
                      "  declared, not exported: ${missing}")
endif()
list(LENGTH declared count)
message(STATUS "${count} functions exported, all declared, nothing else")
