# Every Windows program that ships (quickboot.exe and its companions) is declared with
# qb_program(), so that packaging and the release checks find them all by this one rule:
#   qb_program(TARGET DESCRIPTION "what it is")
# The targets are collected in the global property QB_SHIPPED_PROGRAMS; the description is
# kept in the target property QB_DESCRIPTION. Each program gets its version information and
# application manifest from release/program.rc.in and release/program.manifest.
if(WIN32)
  enable_language(RC)
endif()

set(QB_COMPANY "quickboot project")
set(QB_PRODUCT "quickboot")

function(qb_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION" "")
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "qb_program(${target}): DESCRIPTION is required")
  endif()
  set_property(GLOBAL APPEND PROPERTY QB_SHIPPED_PROGRAMS ${target})
  set_target_properties(${target} PROPERTIES QB_DESCRIPTION "${arg_DESCRIPTION}")
  target_link_libraries(${target} PRIVATE qb_version)

  if(WIN32)
    set(QB_PROGRAM ${target})
    set(QB_PROGRAM_DESCRIPTION "${arg_DESCRIPTION}")
    set(QB_MANIFEST ${PROJECT_SOURCE_DIR}/release/program.manifest)
    set(resources ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
    # @...@ first, then the file names, which are known only at generation time.
    configure_file(${PROJECT_SOURCE_DIR}/release/program.rc.in ${resources}.in @ONLY)
    file(GENERATE OUTPUT ${resources} INPUT ${resources}.in)
    set_source_files_properties(${resources} PROPERTIES
      GENERATED TRUE
      OBJECT_DEPENDS "${QB_MANIFEST};${PROJECT_BINARY_DIR}/generated/qb_version.h")
    target_sources(${target} PRIVATE ${resources})
  endif()
endfunction()
