# The Linux program in one file (make portable). Qt is a static build found through
# CMAKE_PREFIX_PATH; so is its xcb platform plugin, which Qt's CMake package imports into the
# executable. The X11 helper libraries that a desktop without Qt may lack are linked in from
# Debian's static archives where Debian ships them; libxkbcommon and libxkbcommon-x11 come only
# as shared libraries, so they stay on the list that ldd shows.
#
# Included before find_package(Qt6): the archives must be in the cache before Qt's find module
# looks for the shared libraries.

# Qt's find module keeps each xcb component in XCB_<COMPONENT>_LIBRARY.
set(salvatrix_static_xcb ICCCM xcb-icccm IMAGE xcb-image KEYSYMS xcb-keysyms RENDERUTIL
                         xcb-render-util UTIL xcb-util)
while(salvatrix_static_xcb)
  list(POP_FRONT salvatrix_static_xcb component name)
  find_library(XCB_${component}_LIBRARY NAMES lib${name}.a)
  if(NOT XCB_${component}_LIBRARY)
    message(STATUS "No static lib${name}: the program needs the system's shared one")
  endif()
endwhile()

# Called after find_package(Qt6) with each executable that is to run without a Qt installed.
function(salvatrix_make_portable target)
  if(NOT QT_FEATURE_static)
    message(FATAL_ERROR "SALVATRIX_PORTABLE needs a static Qt in CMAKE_PREFIX_PATH (make portable)")
  endif()
  # The static libxcb-image calls into libxcb-util, which Qt's find module does not know of.
  if(TARGET XCB::IMAGE AND XCB_UTIL_LIBRARY MATCHES "\\.a$")
    set_property(TARGET XCB::IMAGE APPEND PROPERTY INTERFACE_LINK_LIBRARIES
                 ${XCB_UTIL_LIBRARY})
  endif()
  # The X11 platform is the one plugin the window cannot do without; Qt adds the input methods
  # (compose keys, IBus) and the desktop portal's theme by itself.
  qt_import_plugins(${target} INCLUDE Qt6::QXcbIntegrationPlugin)
  # The C++ runtime too: a desktop older than this compiler may lack its libstdc++ symbols.
  target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -s)
endfunction()
