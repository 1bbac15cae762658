# Run as a test: every C++ file of the tree laid out as .clang-format says.
#   cmake -DSOURCE_DIR=... -DCLANG_FORMAT=... -P CheckFormat.cmake
# Build folders (anything holding a CMakeCache.txt) and generated files are left out.
file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h")
file(GLOB_RECURSE caches RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*/CMakeCache.txt")
set(skip "^\\.git/")
foreach(cache ${caches})
  get_filename_component(dir "${cache}" DIRECTORY)
  string(REGEX REPLACE "([][+.*()^$])" "\\\\\\1" dir "${dir}")
  string(APPEND skip "|^${dir}/")
endforeach()
list(FILTER files EXCLUDE REGEX "${skip}")
list(LENGTH files count)
if(count EQUAL 0)
  message(FATAL_ERROR "no C++ files found under ${SOURCE_DIR}")
endif()
execute_process(COMMAND "${CLANG_FORMAT}" --dry-run --Werror ${files}
                WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-format: files above are not laid out as .clang-format says "
                      "(clang-format -i <file> lays them out)")
endif()
message(STATUS "clang-format: ${count} files laid out")
