# cmake -DMETAINFO=<file> -DSCREENSHOTS=<folder> -P CheckScreenshots.cmake
# Each screenshot the metainfo names is a picture in docs/screenshots (the
# web site publishes that folder), and the width and height it states are the
# picture's own.
file(READ ${METAINFO} _xml)
string(REGEX MATCHALL "<image[^>]*>[^<]*</image>" _images "${_xml}")
if(NOT _images)
    message(FATAL_ERROR "${METAINFO} names no screenshots")
endif()
foreach(_image ${_images})
    string(REGEX MATCH "/([^/<]+)</image>" _ "${_image}")
    set(_name ${CMAKE_MATCH_1})
    set(_png ${SCREENSHOTS}/${_name})
    if(NOT EXISTS ${_png})
        message(FATAL_ERROR "${_name}: not in ${SCREENSHOTS}")
    endif()
    # A PNG's width and height are the first two fields of its IHDR chunk.
    file(READ ${_png} _header OFFSET 16 LIMIT 8 HEX)
    string(SUBSTRING "${_header}" 0 8 _w)
    string(SUBSTRING "${_header}" 8 8 _h)
    math(EXPR _w "0x${_w}")
    math(EXPR _h "0x${_h}")
    if(NOT _image MATCHES "width=\"${_w}\" height=\"${_h}\"")
        message(FATAL_ERROR "${_name} is ${_w} x ${_h}, the metainfo says: ${_image}")
    endif()
    message(STATUS "${_name}: ${_w} x ${_h}")
endforeach()
