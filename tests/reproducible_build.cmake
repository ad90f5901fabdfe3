# Builds the program a second time in its own build folder and fails unless
# the bytes equal those of the first build.
#   cmake -DSOURCE_DIR=... -DSECOND_BINARY_DIR=... -DGENERATOR=... -DTOOLCHAIN=...
#         -DBUILD_TYPE=... -DREFERENCE=<first exe> -P reproducible_build.cmake
file(REMOVE_RECURSE "${SECOND_BINARY_DIR}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${SECOND_BINARY_DIR}" -G "${GENERATOR}"
          "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
          -DULVEX_BUILD_TESTS=OFF
  OUTPUT_QUIET RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "second configure failed")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" --build "${SECOND_BINARY_DIR}" --target UlvexSystemSetup
  OUTPUT_QUIET RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "second build failed")
endif()
set(second "${SECOND_BINARY_DIR}/bin/UlvexSystemSetup.exe")
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${REFERENCE}" "${second}"
                RESULT_VARIABLE differ)
file(SHA256 "${REFERENCE}" first_hash)
file(SHA256 "${second}" second_hash)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "builds differ:\n  ${REFERENCE} ${first_hash}\n  ${second} ${second_hash}")
endif()
message(STATUS "identical builds: ${first_hash}")
