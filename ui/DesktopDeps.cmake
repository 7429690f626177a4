# Finds what the desktop program needs: Qt 6 (Widgets, PrintSupport, DBus,
# Test) and the Qt 6 build of QScintilla. Sets CORVANE_DESKTOP_FOUND and, when
# everything is there, the imported target QScintilla::QScintilla.
#
# Debian's QScintilla ships neither a CMake package nor a pkg-config file, so
# the header and the library are looked up by name next to Qt's own headers.

set(CORVANE_DESKTOP_FOUND OFF)
find_package(Qt6 6.2 QUIET COMPONENTS Core Gui Widgets PrintSupport DBus Test)
if(NOT Qt6_FOUND OR NOT TARGET Qt6::Widgets OR NOT TARGET Qt6::PrintSupport
   OR NOT TARGET Qt6::DBus OR NOT TARGET Qt6::Test)
  message(STATUS "Desktop program: Qt 6 not found (Widgets, PrintSupport, DBus, Test)")
  return()
endif()

get_target_property(_corvane_qt_includes Qt6::Core INTERFACE_INCLUDE_DIRECTORIES)
set(_corvane_qsci_hints)
foreach(_dir IN LISTS _corvane_qt_includes)
  if(NOT _dir MATCHES "\\$<")
    list(APPEND _corvane_qsci_hints ${_dir} ${_dir}/..)
  endif()
endforeach()
find_path(QSCINTILLA_INCLUDE_DIR Qsci/qsciscintilla.h
  HINTS ${_corvane_qsci_hints}
  PATH_SUFFIXES qt6 x86_64-linux-gnu/qt6 aarch64-linux-gnu/qt6)
find_library(QSCINTILLA_LIBRARY NAMES qscintilla2_qt6)
if(NOT QSCINTILLA_INCLUDE_DIR OR NOT QSCINTILLA_LIBRARY)
  message(STATUS "Desktop program: QScintilla for Qt 6 not found")
  return()
endif()

if(NOT TARGET QScintilla::QScintilla)
  add_library(QScintilla::QScintilla UNKNOWN IMPORTED)
  set_target_properties(QScintilla::QScintilla PROPERTIES
    IMPORTED_LOCATION ${QSCINTILLA_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${QSCINTILLA_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS QSCINTILLA_DLL
    INTERFACE_LINK_LIBRARIES "Qt6::Widgets;Qt6::PrintSupport")
endif()
message(STATUS "Desktop program: Qt ${Qt6_VERSION}, QScintilla ${QSCINTILLA_LIBRARY}")
set(CORVANE_DESKTOP_FOUND ON)
