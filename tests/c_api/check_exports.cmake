# Checks that a shared library exports exactly the functions its header
# declares with QUORVEL_C_API, and nothing else. Run with
#   cmake -DLIBRARY=... -DHEADER=... -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                RESULT_VARIABLE rc OUTPUT_VARIABLE nm_output ERROR_VARIABLE nm_error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -D failed on ${LIBRARY}: ${nm_error}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${nm_output}")
set(exported "")
foreach(line ${lines})
  string(REGEX REPLACE "^.* " "" symbol "${line}")
  list(APPEND exported ${symbol})
endforeach()
list(SORT exported)

file(READ ${HEADER} header)
string(REGEX MATCHALL "QUORVEL_C_API[^;(]*quorvel_[a-z0-9_]+[ \n]*\\(" declarations
       "${header}")
set(declared "")
foreach(declaration ${declarations})
  string(REGEX MATCH "quorvel_[a-z0-9_]+[ \n]*\\($" name "${declaration}")
  string(REGEX REPLACE "[ \n]*\\($" "" name "${name}")
  list(APPEND declared ${name})
endforeach()
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
