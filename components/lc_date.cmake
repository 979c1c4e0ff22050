# The date component and the build date it carries. The build date is the last commit's time, or
# SOURCE_DATE_EPOCH when set, so that two builds of one commit are identical. Run as a script
# (cmake -DDOVRIK_SOURCE_DIR=... -P lc_date.cmake) it prints the date it would use.

function(dovrik_build_epoch out_var source_dir)
  if("$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  else()
    execute_process(COMMAND git log -1 --format=%ct
      WORKING_DIRECTORY "${source_dir}"
      OUTPUT_VARIABLE epoch RESULT_VARIABLE rc
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT rc EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
      message(STATUS "No commit date and no SOURCE_DATE_EPOCH: the build date is 0 (30 December 1899)")
      set(epoch 0)
    endif()
  endif()
  set(${out_var} "${epoch}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  dovrik_build_epoch(epoch "${DOVRIK_SOURCE_DIR}")
  message(STATUS "build epoch: ${epoch}")
  return()
endif()

dovrik_build_epoch(DOVRIK_BUILD_EPOCH "${PROJECT_SOURCE_DIR}")
# A new commit reconfigures, so the date follows it without a manual reconfigure.
execute_process(COMMAND git rev-parse --git-path logs/HEAD
  WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
  OUTPUT_VARIABLE _dovrik_git_log RESULT_VARIABLE _dovrik_rc
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(_dovrik_rc EQUAL 0)
  get_filename_component(_dovrik_git_log "${_dovrik_git_log}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
  if(EXISTS "${_dovrik_git_log}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_dovrik_git_log}")
  endif()
endif()

add_library(dovrik_lcdate STATIC ${CMAKE_CURRENT_LIST_DIR}/lc_date.cpp)
target_include_directories(dovrik_lcdate PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(dovrik_lcdate PRIVATE DOVRIK_BUILD_EPOCH=${DOVRIK_BUILD_EPOCH}LL)
