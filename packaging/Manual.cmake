# The user manual and the pictures it shows: docs/readme.html and every
# local file that a src attribute in it names, relative to docs/. app/
# copies them next to the program (where a build run finds them) and the
# install rules put them into the data directory. A picture the manual
# names but docs/ lacks stops the configuration: the manual would ship
# broken.
function(corvane_manual_files out)
  set(manual ${PROJECT_SOURCE_DIR}/docs/readme.html)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manual})
  file(READ ${manual} html)
  string(REGEX MATCHALL "src=[\"'][^\"']+[\"']" refs "${html}")
  set(files readme.html)
  foreach(ref IN LISTS refs)
    string(REGEX REPLACE "^src=[\"']([^\"']+)[\"']$" "\\1" path "${ref}")
    # Other sites, data: URLs, absolute paths and paths out of docs/ are
    # not the manual's own files.
    if(path MATCHES "^[A-Za-z][A-Za-z0-9+.-]*:" OR path MATCHES "^/" OR path MATCHES "(^|/)\\.\\.(/|$)")
      continue()
    endif()
    string(REGEX REPLACE "[?#].*$" "" path "${path}")
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/docs/${path})
      message(FATAL_ERROR "docs/readme.html shows ${path}, which is not in docs/")
    endif()
    list(APPEND files ${path})
  endforeach()
  list(REMOVE_DUPLICATES files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()
