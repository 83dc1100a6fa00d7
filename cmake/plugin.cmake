# The plug-in: abi/ and base/ at the bottom, then transport/, search/,
# protocol/ and shell/ at the top; the sources are listed in
# cmake/plugin_sources.txt.
#
# vask_core is a static library of every plug-in source, compiled with hidden
# visibility so that the shared library exports IMessageProc alone; unit tests
# link it directly. vask is the product: libvask.so here, vask.dll on Windows.

vask_read_sources(VASK_CORE_SOURCES ${PROJECT_SOURCE_DIR}/cmake/plugin_sources.txt)
add_library(vask_core STATIC ${VASK_CORE_SOURCES})
target_include_directories(vask_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vask_core PUBLIC vaskwin32 PRIVATE vask_cp1250)
set_target_properties(vask_core PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_library(vask SHARED ${PROJECT_SOURCE_DIR}/shell/plugin_entry.cpp)
target_link_libraries(vask PRIVATE vask_core vask_cp1250)
set_target_properties(vask PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON PREFIX "lib")

if(WIN32)
  # vask.dll: the undecorated IMessageProc alone, the C and C++ runtimes and
  # winpthread linked statically (the DLL needs only system DLLs), the icons
  # and the settings-page picture compiled in by windres.
  enable_language(RC)
  set_target_properties(vask PROPERTIES PREFIX "" OUTPUT_NAME vask)
  set(VASK_RC ${PROJECT_SOURCE_DIR}/resources/vask.rc)
  set(VASK_ICONS)
  foreach(icon auto_away available banner be_right_back do_not_disturb message offline plugin
          plugin_small)
    list(APPEND VASK_ICONS ${PROJECT_SOURCE_DIR}/resources/${icon}.ico)
  endforeach()
  target_sources(vask PRIVATE ${VASK_RC})
  # windres reads the .ico files itself; a redrawn icon must rebuild the DLL.
  set_source_files_properties(${VASK_RC} PROPERTIES OBJECT_DEPENDS "${VASK_ICONS}")
  # Only symbols marked dllexport are exported (IMessageProc), not every
  # global of the static runtimes.
  target_link_options(vask PRIVATE -static -static-libgcc -static-libstdc++
    -Wl,--exclude-all-symbols)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # __stdcall decorates the name as IMessageProc@4; the host looks up the
    # undecorated name.
    target_link_options(vask PRIVATE -Wl,--kill-at)
  endif()
else()
  target_link_options(vask PRIVATE -Wl,--no-undefined
    -Wl,--exclude-libs,ALL)
endif()

# The help action opens "doc/Vask.html" below the host's folder, and the
# stand-in host names the plug-in's folder for it: the document lies beside
# the library in the build folder, copied again whenever it changes.
set(VASK_HELP_SOURCE ${PROJECT_SOURCE_DIR}/doc/Vask.html)
set(VASK_HELP_COPY ${CMAKE_CURRENT_BINARY_DIR}/doc/Vask.html)
add_custom_command(OUTPUT ${VASK_HELP_COPY}
  COMMAND ${CMAKE_COMMAND} -E copy ${VASK_HELP_SOURCE} ${VASK_HELP_COPY}
  DEPENDS ${VASK_HELP_SOURCE}
  COMMENT "Placing doc/Vask.html beside the plug-in")
add_custom_target(vask_help ALL DEPENDS ${VASK_HELP_COPY})
add_dependencies(vask vask_help)
