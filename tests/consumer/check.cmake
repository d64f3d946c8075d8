# Installs the build tree into a scratch prefix and builds a client against
# it twice: through the CMake package and through pkg-config. Run with
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DCXX_COMPILER=...]
#         -P check.cmake
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

file(GLOB_RECURSE pc_files ${prefix}/*/quorvel.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
  message(FATAL_ERROR "check.cmake: expected one installed quorvel.pc, "
                      "found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs quorvel
                RESULT_VARIABLE rc OUTPUT_VARIABLE pc_flags
                ERROR_VARIABLE pc_error OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check.cmake: pkg-config failed: ${pc_error}")
endif()
string(FIND "${pc_flags}" "-I${prefix}/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "check.cmake: pkg-config does not point into ${prefix}: "
                      "${pc_flags}")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
run_step("build the pkg-config client"
  ${CXX_COMPILER} ${SOURCE_DIR}/main.cpp ${pc_flags}
  -o ${WORK_DIR}/quorvel_consumer_pc)
run_step("run the pkg-config client" ${WORK_DIR}/quorvel_consumer_pc)
