# Installs the build tree into a scratch prefix and builds the C++ and the C
# client against it twice: through the CMake package and through
# pkg-config. With PYTHON and PYTHON_DIR set, it also imports the installed
# Python package. Run with
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DCXX_COMPILER=...]
#         [-DC_COMPILER=...] [-DPYTHON=... -DPYTHON_DIR=...] -P check.cmake
# Any failure is fatal.
cmake_minimum_required(VERSION 3.22)

foreach(var BUILD_DIR SOURCE_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT DEFINED CXX_COMPILER OR CXX_COMPILER STREQUAL "")
  set(CXX_COMPILER c++)
endif()
if(NOT DEFINED C_COMPILER OR C_COMPILER STREQUAL "")
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

run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Only the scratch prefix may provide the package: no registry, no system.
run_step("configure the CMake client"
  ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${consumer_build}
  -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  -DCMAKE_C_COMPILER=${C_COMPILER}
  -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
file(STRINGS ${consumer_build}/CMakeCache.txt found_dir REGEX "^quorvel_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found_dir "${found_dir}")
string(FIND "${found_dir}" "${prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "check.cmake: the package came from ${found_dir}, "
                      "not from ${prefix}")
endif()
run_step("build the CMake client" ${CMAKE_COMMAND} --build ${consumer_build})
run_step("run the CMake client" ${consumer_build}/quorvel_consumer)
run_step("run the CMake C client" ${consumer_build}/quorvel_consumer_c)

file(GLOB_RECURSE pc_files ${prefix}/*/quorvel.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "check.cmake: expected one installed quorvel.pc, "
                      "found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})

# Returns the output of pkg-config for `package`, checked to point into the
# prefix.
function(pkg_config_flags package out)
  execute_process(COMMAND pkg-config --cflags --libs ${package}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE flags
                  ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "check.cmake: pkg-config ${package} failed: ${error}")
  endif()
  string(FIND "${flags}" "-I${prefix}/" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "check.cmake: pkg-config ${package} does not point "
                        "into ${prefix}: ${flags}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

pkg_config_flags(quorvel pc_flags)
run_step("build the pkg-config client"
  ${CXX_COMPILER} ${SOURCE_DIR}/main.cpp ${pc_flags}
  -o ${WORK_DIR}/quorvel_consumer_pc)
run_step("run the pkg-config client" ${WORK_DIR}/quorvel_consumer_pc)

# The C client is linked with what pkg-config gives and nothing more, and
# runs with no LD_LIBRARY_PATH: the flags carry where the library lies.
pkg_config_flags(quorvel_c pc_c_flags)
run_step("build the pkg-config C client"
  ${C_COMPILER} -std=c11 ${SOURCE_DIR}/main.c ${pc_c_flags}
  -o ${WORK_DIR}/quorvel_consumer_c_pc)
unset(ENV{LD_LIBRARY_PATH})
run_step("run the pkg-config C client" ${WORK_DIR}/quorvel_consumer_c_pc)

if(DEFINED PYTHON AND NOT PYTHON STREQUAL "")
  # The installed package alone: nothing of the build tree on the path.
  set(ENV{PYTHONPATH} ${prefix}/${PYTHON_DIR})
  run_step("import the installed Python package"
    ${PYTHON} -c
    "import quorvel, sys; assert quorvel.__file__.startswith(sys.argv[1]), quorvel.__file__; d = quorvel.CreateObject('Scripting.Dictionary'); d['a'] = 1; assert d.Count == 1"
    ${prefix}/)
endif()
