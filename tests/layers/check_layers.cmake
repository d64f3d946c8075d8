# Fails when a layer includes a header of a layer it may not use, or a client
# tree includes anything but public headers and its own files.
# Run with cmake -DROOT=<source tree> -P check_layers.cmake
cmake_minimum_required(VERSION 3.22)

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "check_layers.cmake: ROOT is not set")
endif()

# The layers, from the ground up, and what each may include besides itself.
set(layers core collections json codecs dataset stores facade c_api)
set(uses_core "")
set(uses_collections core)
set(uses_json core collections)
set(uses_codecs core collections)
set(uses_dataset core collections)
set(uses_stores core collections json codecs dataset)
set(uses_facade core collections json codecs dataset stores)
set(uses_c_api core collections json codecs dataset stores facade)

# The layer of each public header (include/quorvel/NAME).
set(headers_core bulk_memory.h codepage.h compare.h convert.h decimal.h
                 dispatch.h error.h node_vector.h object.h safearray.h string.h
                 utf8.h value.h)
set(headers_collections callbacks.h carray.h cdict.h collection.h cqueue.h
                        cstack.h cstringbuilder.h dictionary.h enumerator.h)
set(headers_json json.h json_standard.h json_strict.h)
set(headers_codecs base64.h lzss.h msgpack.h msgpack_stream.h rc4.h storable.h
                   verhoeff.h)
set(headers_dataset cdataset.h csvloader.h)
set(headers_stores file_system.h kxdocrec.h kxdocsdb.h kxdocstore.h kxkvdb.h
                   open_options.h store_scan.h)
set(headers_facade cquorvelpi.h quorvel.h)
set(headers_c_api quorvel_c.h)

# The client trees, and the trees whose headers they may include too.
set(clients tools python bench fuzz)
set(shares_fuzz tests)

# Known crossings; an entry that no longer occurs fails, so the list shrinks.
set(allowed
  # The document file's model makes ids by the stores' private rule.
  "fuzz/store_ops_fuzz.cpp -> stores/doc_rules.h"
  # The private field matcher is fuzzed against the rule it stands in for.
  "fuzz/doc_match_fuzz.cpp -> stores/doc_match.h"
  "fuzz/doc_match_fuzz.cpp -> stores/doc_rules.h"
)
# -DALLOWED="FILE -> HEADER" adds one (the check's own test, for a stale one).
if(DEFINED ALLOWED)
  list(APPEND allowed "${ALLOWED}")
endif()

foreach(layer ${layers})
  foreach(header ${headers_${layer}})
    set(layer_of_quorvel/${header} ${layer})
  endforeach()
endforeach()

set(faults "")
set(allowed_seen "")

# The layer of an include as written, or "" outside the layers.
function(layer_of_include include out)
  if(DEFINED layer_of_${include})
    set(${out} ${layer_of_${include}} PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCH "^[^/]+" top "${include}")
  if(top IN_LIST layers)
    set(${out} ${top} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# Checks every quoted include of `file` (a path under ROOT), a file of the
# layer or the client tree `owner`.
function(check_file file owner)
  get_filename_component(dir ${file} DIRECTORY)
  file(STRINGS ${ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1"
           include "${line}")
    if(owner IN_LIST clients)
      if(include MATCHES "^quorvel/")
        continue()
      endif()
      # Its own: in its tree or a shared one, never a name also under src/.
      get_filename_component(found ${ROOT}/${dir}/${include} ABSOLUTE)
      file(RELATIVE_PATH found ${ROOT} ${found})
      set(own FALSE)
      if(EXISTS ${ROOT}/${found} AND found MATCHES "^${owner}/")
        set(own TRUE)
      endif()
      foreach(shared ${shares_${owner}})
        if(EXISTS ${ROOT}/${shared}/${include})
          set(own TRUE)
        endif()
      endforeach()
      if(own AND NOT EXISTS ${ROOT}/src/${include})
        continue()
      endif()
      set(why "${owner} may include public headers and its own files only")
    else()
      layer_of_include("${include}" target)
      if(target STREQUAL "" OR target STREQUAL owner OR
         target IN_LIST uses_${owner})
        continue()
      endif()
      set(why "${owner} may not use ${target}")
    endif()
    set(entry "${file} -> ${include}")
    if(entry IN_LIST allowed)
      list(APPEND allowed_seen "${entry}")
    else()
      list(APPEND faults "${entry} (${why})")
    endif()
  endforeach()
  set(faults "${faults}" PARENT_SCOPE)
  set(allowed_seen "${allowed_seen}" PARENT_SCOPE)
endfunction()

# The sources of each layer.
file(GLOB src_dirs RELATIVE ${ROOT}/src LIST_DIRECTORIES true ${ROOT}/src/*)
foreach(dir ${src_dirs})
  if(NOT IS_DIRECTORY ${ROOT}/src/${dir})
    continue()
  endif()
  if(NOT dir IN_LIST layers)
    list(APPEND faults "src/${dir}/ is in no layer: add it to check_layers.cmake")
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/src/${dir}/*)
  foreach(source ${sources})
    if(source MATCHES "\\.(h|cpp|inc)$")
      check_file(${source} ${dir})
    endif()
  endforeach()
endforeach()

# The public headers.
file(GLOB public RELATIVE ${ROOT}/include/quorvel ${ROOT}/include/quorvel/*.h)
foreach(header ${public})
  if(NOT DEFINED layer_of_quorvel/${header})
    list(APPEND faults
         "include/quorvel/${header} is in no layer: add it to check_layers.cmake")
    continue()
  endif()
  check_file(include/quorvel/${header} ${layer_of_quorvel/${header}})
endforeach()

foreach(tree ${clients})
  if(NOT IS_DIRECTORY ${ROOT}/${tree})
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${tree}/*)
  foreach(source ${sources})
    if(source MATCHES "\\.(h|hpp|c|cc|cpp|inc)$")
      check_file(${source} ${tree})
    endif()
  endforeach()
endforeach()

foreach(entry ${allowed})
  if(NOT entry IN_LIST allowed_seen)
    list(APPEND faults "${entry} is allowed but no longer occurs: "
                       "delete it from the list in check_layers.cmake")
  endif()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Includes against the layers:\n  ${text}")
endif()
list(LENGTH public header_count)
message(STATUS "Layers kept (${header_count} public headers placed)")
