# Installing Corvane as a Linux program, and its Debian package.
#
# The version header both programs print (--version) is made here: the
# project version plus, in a checkout, the short commit id, rewritten at
# every build and touched only when it changes. `cmake --install` lays out
# the programs, the user manual with its pictures (the data directory,
# where the desktop program looks when none is next to it), the desktop
# entry with the icons and the project file type, the man pages and the
# bash completion; CPack turns that tree into corvane_<version>_<arch>.deb
# with dependencies computed from the binaries (scripts/package.sh).
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/Manual.cmake)

# ---- version
set(CORVANE_VERSION_HEADER ${PROJECT_BINARY_DIR}/generated/corvane_version.h)
set(corvane_write_version
    ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${CORVANE_VERSION_HEADER}
    -DVERSION=${PROJECT_VERSION} -P ${CMAKE_CURRENT_LIST_DIR}/WriteVersion.cmake)
execute_process(COMMAND ${corvane_write_version})  # there before the first build
add_custom_target(corvane_version_header COMMAND ${corvane_write_version}
                  BYPRODUCTS ${CORVANE_VERSION_HEADER} VERBATIM)
add_library(corvane_version INTERFACE)
target_include_directories(corvane_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
add_dependencies(corvane_version corvane_version_header)
foreach(program corvane-cli corvane)
  if(TARGET ${program})
    target_link_libraries(${program} PRIVATE corvane_version)
  endif()
endforeach()

# ---- install tree
set(CORVANE_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/corvane)
set(packaging ${CMAKE_CURRENT_LIST_DIR})

# Man pages and the package's change log are installed compressed, as
# Debian's are (-n: no time stamp, the same bytes at every build).
set(man_pages corvane-cli.1)
if(TARGET corvane)
  list(APPEND man_pages corvane.1)
endif()
set(man_gz)
foreach(page IN LISTS man_pages ITEMS changelog)
  set(gz ${PROJECT_BINARY_DIR}/packaging/${page}.gz)
  add_custom_command(OUTPUT ${gz}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
                     COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${packaging}/${page} ${gz}
                     DEPENDS ${packaging}/${page} VERBATIM)
  list(APPEND man_gz ${gz})
endforeach()
set(changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
list(REMOVE_ITEM man_gz ${changelog_gz})
add_custom_target(corvane_man ALL DEPENDS ${man_gz} ${changelog_gz})

install(TARGETS corvane-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The copyright notice and the change log where Debian keeps them.
install(FILES ${packaging}/copyright ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${packaging}/corvane-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME corvane-cli)
corvane_manual_files(corvane_manual)
foreach(f IN LISTS corvane_manual)
  get_filename_component(sub ${f} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/${f} DESTINATION ${CORVANE_INSTALL_DATADIR}/${sub})
endforeach()

if(TARGET corvane)
  install(TARGETS corvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${packaging}/corvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${packaging}/corvane-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
          RENAME corvane.xml)
  install(FILES ${packaging}/icons/corvane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${packaging}/icons/corvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME corvane.png)
  endforeach()
endif()

# ---- Debian package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Corvane)
if(NOT CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "Corvane maintainers <maintainers@corvane.example>")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "query the file system with SQL")
set(CPACK_PACKAGE_DESCRIPTION
"Corvane registers directories as tables and runs SELECT statements over
them: one row per file or directory, with its path, name, extension, size,
attributes, times and more. Computed expressions are compiled by an
embedded compiler for a small Pascal-like script language.

The package holds the desktop program (corvane), with its manual, and the
command-line front end (corvane-cli), which writes results as a table, CSV
or JSON.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(TARGET corvane)
  # Without a font with CJK glyphs every Chinese caption is a box; xdg-open
  # opens files, folders and the manual.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, xdg-utils")
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)

# ---- tests of the install tree and the package's texts
if(CORVANE_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/packaging ${PROJECT_BINARY_DIR}/tests/packaging)
endif()
