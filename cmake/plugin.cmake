# The plug-in: shell/, transport/, protocol/, search/.
#
# vask_core is a static library of every plug-in source, compiled with hidden
# visibility so that the shared library exports IMessageProc alone; unit tests
# link it directly. vask is the product: libvask.so here, vask.dll on Windows.

file(GLOB VASK_CORE_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/shell/*.cpp
  ${PROJECT_SOURCE_DIR}/transport/*.cpp
  ${PROJECT_SOURCE_DIR}/protocol/*.cpp
  ${PROJECT_SOURCE_DIR}/search/*.cpp)
list(FILTER VASK_CORE_SOURCES EXCLUDE REGEX ".*/plugin_entry\\.cpp$")

if(NOT VASK_CORE_SOURCES)
  return()
endif()
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
  # vask.dll: the undecorated IMessageProc alone (the .def file names it),
  # the C and C++ runtimes linked statically, the resources compiled in.
  set_target_properties(vask PROPERTIES PREFIX "" OUTPUT_NAME vask)
  if(EXISTS ${PROJECT_SOURCE_DIR}/resources/vask.rc)
    target_sources(vask PRIVATE ${PROJECT_SOURCE_DIR}/resources/vask.rc)
  endif()
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
