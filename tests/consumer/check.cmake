# Installs the build tree into a scratch prefix and builds the C++ and the C
# client against it through the CMake package and through pkg-config; with
# PYTHON and PYTHON_DIR set, it also imports the installed Python package.
cmake_minimum_required(VERSION 3.22)

if(NOT BUILD_DIR OR NOT SOURCE_DIR OR NOT WORK_DIR)
  message(FATAL_ERROR "check.cmake: BUILD_DIR, SOURCE_DIR and WORK_DIR are needed")
endif()
if(NOT CXX_COMPILER)
  set(CXX_COMPILER c++)
endif()
if(NOT C_COMPILER)
  set(C_COMPILER cc)
endif()

set(prefix ${WORK_DIR}/prefix)
set(consumer_build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "check.cmake: ${what} failed (${rc}):\n${out}")
  endif()
  message(STATUS "${what}: ok")
endfunction()

# Fails unless `text` holds `lead` followed by the prefix and a slash.
function(require_prefix text lead what)
  string(FIND "${text}" "${lead}${prefix}/" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "check.cmake: ${what} is not from ${prefix}: ${text}")
  endif()
endfunction()

run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Only the scratch prefix may provide the package: no registry, no system.
run_step("configure the CMake client"
  ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${consumer_build}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
file(STRINGS ${consumer_build}/CMakeCache.txt found_dir REGEX "^quorvel_DIR:")
require_prefix("${found_dir}" "=" "the CMake package")
run_step("build the CMake client" ${CMAKE_COMMAND} --build ${consumer_build})
run_step("run the CMake client" ${consumer_build}/quorvel_consumer)
run_step("run the CMake C client" ${consumer_build}/quorvel_consumer_c)

file(GLOB_RECURSE pc_files ${prefix}/*/quorvel.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "check.cmake: expected one quorvel.pc, got ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
foreach(client "quorvel;${CXX_COMPILER};main.cpp"
               "quorvel_c;${C_COMPILER};-std=c11;main.c")
  list(POP_FRONT client package compiler)
  execute_process(COMMAND pkg-config --cflags --libs ${package}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE flags
                  ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "check.cmake: pkg-config ${package} failed: ${error}")
  endif()
  require_prefix("${flags}" "-I" "pkg-config ${package}")
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(TRANSFORM client PREPEND ${SOURCE_DIR}/ REGEX "^main")
  run_step("build the pkg-config client of ${package}"
    ${compiler} ${client} ${flags} -o ${WORK_DIR}/${package}_pc)
  # The C client runs with no LD_LIBRARY_PATH: the flags alone must say
  # where the library lies.
  if(package STREQUAL "quorvel_c")
    unset(ENV{LD_LIBRARY_PATH})
  endif()
  run_step("run the pkg-config client of ${package}" ${WORK_DIR}/${package}_pc)
endforeach()

if(PYTHON)
  # The installed package alone: nothing of the build tree on the path.
  set(ENV{PYTHONPATH} ${prefix}/${PYTHON_DIR})
  run_step("import the installed Python package"
    ${PYTHON} -c
    "import quorvel, sys; assert quorvel.__file__.startswith(sys.argv[1]), quorvel.__file__; d = quorvel.CreateObject('Scripting.Dictionary'); d['a'] = 1; assert d.Count == 1"
    ${prefix}/)
endif()
