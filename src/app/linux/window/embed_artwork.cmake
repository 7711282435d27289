# Script mode (cmake -P): writes the window artwork as byte arrays into one C++ source, so the
# program carries its pictures and needs nothing beside it but the report template.
#   -DINPUT_DIR=<resources/artwork>  -DOUTPUT=<generated .cpp>
set(_items kBackground=background.jpg kStart=start.jpg kExit=exit.jpg kIcon=icon.png)

set(_text "// Generated from resources/artwork by embed_artwork.cmake; edits are overwritten.\n")
string(APPEND _text "#include \"app/linux/window/artwork.h\"\n\nnamespace app::artwork {\n")
foreach(_item IN LISTS _items)
  string(REPLACE "=" ";" _pair "${_item}")
  list(GET _pair 0 _name)
  list(GET _pair 1 _file)
  file(READ "${INPUT_DIR}/${_file}" _hex HEX)
  string(LENGTH "${_hex}" _digits)
  if(_digits EQUAL 0)
    message(FATAL_ERROR "artwork file ${INPUT_DIR}/${_file} is empty")
  endif()
  math(EXPR _size "${_digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  # 16 bytes a line (CMake's regular expressions have no counted repeats).
  string(REPEAT "0x..," 16 _line)
  string(REGEX REPLACE "(${_line})" "\\1\n    " _bytes "${_bytes}")
  # Zero padding after the picture: the JPEG reader is given no length and may look a little
  # past the end marker.
  string(APPEND _text "\n// ${_file}\nextern const unsigned char ${_name}[] = {\n    ${_bytes}\n")
  string(APPEND _text "    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};\n")
  string(APPEND _text "extern const std::size_t ${_name}Size = ${_size};\n")
endforeach()
string(APPEND _text "\n}  // namespace app::artwork\n")

# Write only on change, so an unchanged picture set does not rebuild the program.
set(_old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" _old)
endif()
if(NOT _old STREQUAL _text)
  file(WRITE "${OUTPUT}" "${_text}")
endif()
