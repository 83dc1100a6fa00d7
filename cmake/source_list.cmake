# vask_read_sources(VAR FILE): the sources listed in FILE (one path per line
# relative to the project's root, '#' starts a comment) as absolute paths.
# A listed file that does not exist stops the configure step: a source is
# never dropped silently.
function(vask_read_sources var file)
  file(STRINGS ${file} lines)
  set(result)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    set(path ${PROJECT_SOURCE_DIR}/${line})
    if(NOT EXISTS ${path})
      message(FATAL_ERROR "${file} lists ${line}, which does not exist")
    endif()
    list(APPEND result ${path})
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  set(${var} ${result} PARENT_SCOPE)
endfunction()
