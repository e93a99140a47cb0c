# Run by CPack once the files to pack are staged (CPACK_PRE_BUILD_SCRIPTS). Archives like the zip
# record each file's time as it is on disk, the build's: when SOURCE_DATE_EPOCH is set, every
# staged file and folder gets that time instead, so that the same sources pack the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} OR "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  return()
endif()
if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"$ENV{SOURCE_DATE_EPOCH}\", not a count of seconds")
endif()
# GNU touch (as MSYS2 has it too) sets a time given in seconds since 1970.
find_program(QUILLOMAT_TOUCH touch)
if(NOT QUILLOMAT_TOUCH)
  message(WARNING "No touch found: the package holds the build's file times")
  return()
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES TRUE "${CPACK_TEMPORARY_DIRECTORY}/*")
execute_process(COMMAND "${QUILLOMAT_TOUCH}" -h -d "@$ENV{SOURCE_DATE_EPOCH}" -- ${staged}
  COMMAND_ERROR_IS_FATAL ANY)
