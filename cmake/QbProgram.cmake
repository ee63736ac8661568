# Every Windows program that ships (quickboot.exe and its companions) is declared with
# qb_program(), so that packaging and the release checks find them all by this one rule:
#   qb_program(TARGET DESCRIPTION "what it is")
# The targets are collected in the global property QB_SHIPPED_PROGRAMS; the description is
# kept in the target property QB_DESCRIPTION.
function(qb_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DESCRIPTION" "")
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "qb_program(${target}): DESCRIPTION is required")
  endif()
  set_property(GLOBAL APPEND PROPERTY QB_SHIPPED_PROGRAMS ${target})
  set_target_properties(${target} PROPERTIES QB_DESCRIPTION "${arg_DESCRIPTION}")
  target_link_libraries(${target} PRIVATE qb_version)
endfunction()
