# The Linux window program's extras, included where the `kestrova` target is made: the artwork
# compiled in, and FLTK's image library (JPEG and PNG decoding).
set(_art_dir ${CMAKE_SOURCE_DIR}/resources/artwork)
set(_art_cpp ${CMAKE_BINARY_DIR}/generated/artwork_data.cpp)
add_custom_command(
  OUTPUT ${_art_cpp}
  COMMAND ${CMAKE_COMMAND} -DINPUT_DIR=${_art_dir} -DOUTPUT=${_art_cpp}
          -P ${CMAKE_CURRENT_LIST_DIR}/embed_artwork.cmake
  DEPENDS ${_art_dir}/background.jpg ${_art_dir}/start.jpg ${_art_dir}/exit.jpg
          ${_art_dir}/icon.png ${CMAKE_CURRENT_LIST_DIR}/embed_artwork.cmake
  COMMENT "Embedding the window artwork"
  VERBATIM)
target_sources(kestrova PRIVATE ${_art_cpp})

if(NOT FLTK_IMAGES_LIBRARY)
  message(FATAL_ERROR "FLTK's image library (fltk_images) was not found; install libfltk1.3-dev")
endif()
target_link_libraries(kestrova PRIVATE ${FLTK_IMAGES_LIBRARY} ${FLTK_BASE_LIBRARY})
