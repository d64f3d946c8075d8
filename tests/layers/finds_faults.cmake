# check_layers.cmake must refuse the tree under upward/, naming each fault
# planted there (the real tree shows what it must keep).
cmake_minimum_required(VERSION 3.22)

set(here ${CMAKE_CURRENT_LIST_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${here}/upward
                        "-DALLOWED=src/codecs/gone.cpp -> quorvel/kxdocrec.h"
                        -P ${here}/check_layers.cmake
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(rc EQUAL 0)
  message(FATAL_ERROR "the check passed a tree that breaks the layers:\n${out}")
endif()
string(REGEX REPLACE "[ \t\r\n]+" " " out "${out}")
foreach(expected
    "src/core/value.cpp -> quorvel/kxkvdb.h (core may not use stores)"
    "src/json/reader.cpp -> quorvel/msgpack.h (json may not use codecs)"
    "include/quorvel/carray.h -> quorvel/cquorvelpi.h (collections may not use facade)"
    "src/extra/ is in no layer"
    "include/quorvel/stray.h is in no layer"
    "tools/quorvel/verb.cpp -> stores/store_file.h (tools may include public headers and its own files only)"
    "src/codecs/gone.cpp -> quorvel/kxdocrec.h is allowed but no longer occurs")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the check did not report: ${expected}\nIt said: ${out}")
  endif()
endforeach()
message(STATUS "The layer check found every fault")
