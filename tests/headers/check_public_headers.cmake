# Fails when an installed header names `internal::` (outside the headers
# listed below), a test double, or a header under src/.
cmake_minimum_required(VERSION 3.22)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "check_public_headers.cmake: ROOT is not set")
endif()

set(internal_allowed
  # The String handle and Value are inline over the counted text block.
  string.h value.h
  # The binder's templates turn member pointers into table entries.
  dispatch.h
  # A private pointer to the loader's text interner.
  csvloader.h
  # Where tree nodes come from, and the containers built from them.
  bulk_memory.h carray.h dictionary.h node_vector.h
)

set(faults "")
file(GLOB headers RELATIVE ${ROOT}/include/quorvel ${ROOT}/include/quorvel/*.h)
foreach(header ${headers})
  # One list element a line; the semicolons of the code would split them.
  file(READ ${ROOT}/include/quorvel/${header} text)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*//")
      continue()
    endif()
    if(line MATCHES "internal::|namespace internal" AND
       NOT header IN_LIST internal_allowed)
      list(APPEND faults "${header}: names the internals: ${line}")
    endif()
    if(line MATCHES "FaultyFileSystem|MemoryFileSystem")
      list(APPEND faults "${header}: names a test double: ${line}")
    endif()
    if(line MATCHES "#[ \t]*include[ \t]*\"" AND
       NOT line MATCHES "#[ \t]*include[ \t]*\"quorvel/")
      list(APPEND faults "${header}: includes outside the public headers: ${line}")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Public headers that show the internals:\n  ${text}")
endif()
list(LENGTH headers count)
message(STATUS "${count} public headers show no internals")
