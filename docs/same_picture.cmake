# same_picture.cmake -DRENDERED=SVG -DKEPT=SVG: fails unless the picture
# kept in the repository is the one the source renders now. Comments are
# left out of the comparison: Graphviz names its version in one.
foreach(which RENDERED KEPT)
  if(NOT EXISTS "${${which}}")
    message(FATAL_ERROR "missing: ${${which}}")
  endif()
  file(READ "${${which}}" text)
  string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" text "${text}")
  set(${which}_TEXT "${text}")
endforeach()
if(NOT RENDERED_TEXT STREQUAL KEPT_TEXT)
  message(FATAL_ERROR "${KEPT} is not what its source renders now; "
                      "copy the build's ${RENDERED} over it and commit both")
endif()
