# Turns the message text files (lang/*.txt) into a C++ source that holds every text as
# byte-exact string data, sorted by message id.
#
# Run in script mode:
#   cmake -DLANG_DIR=<folder of *.txt> -DOUTPUT=<file.cpp> -DDATA_HEADER=<message_data.h>
#         -P embed_messages.cmake
#
# The files are read as hex so that no byte is lost or changed on the way (CMake's own
# string handling would split at ";" and could drop blanks or a carriage return). Each
# byte becomes "-" and two hex digits ("base" is "-62-61-73-65"). The "-" marks where a
# byte starts, so a pattern such as "-0a" can only ever match a whole byte, and patterns
# need no context from the byte before.
#
# Any malformed line, duplicate message id, duplicate base or file without a base stops
# the build with a message naming the file and line. The output is written only when all
# files are sound.

cmake_minimum_required(VERSION 3.20)

foreach(_var LANG_DIR OUTPUT DATA_HEADER)
  if(NOT DEFINED ${_var} OR "${${_var}}" STREQUAL "")
    message(FATAL_ERROR "embed_messages.cmake: ${_var} is not set")
  endif()
endforeach()

file(GLOB _files LIST_DIRECTORIES false "${LANG_DIR}/*.txt")
list(SORT _files)
if(NOT _files)
  message(FATAL_ERROR "embed_messages.cmake: no message files (*.txt) in ${LANG_DIR}")
endif()

# One valid UTF-8 sequence in the "-hh" form: ASCII, then 2-, 3- and 4-byte forms without
# overlong encodings, surrogates or code points above U+10FFFF.
set(_cont "-[89ab][0-9a-f]")
set(_utf8_char
    "-[0-7][0-9a-f]"
    "-c[2-9a-f]${_cont}"
    "-d[0-9a-f]${_cont}"
    "-e0-[ab][0-9a-f]${_cont}"
    "-e[1-9a-cef]${_cont}${_cont}"
    "-ed-[89][0-9a-f]${_cont}"
    "-f0-[9ab][0-9a-f]${_cont}${_cont}"
    "-f[1-3]${_cont}${_cont}${_cont}"
    "-f4-8[0-9a-f]${_cont}${_cont}")
list(JOIN _utf8_char "|" _utf8_char)
set(_utf8_line "^(${_utf8_char})*$")
# Control bytes other than TAB (09); a carriage return (0d) gets its own message.
set(_control "-(0[0-8bcef]|1[0-9a-f]|7f)")
set(_digits "(-3[0-9])+")

set(_ids "")

foreach(_file IN LISTS _files)
  get_filename_component(_name "${_file}" NAME)
  file(READ "${_file}" _hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "-\\1" _hex "${_hex}")
  # A byte-order mark written by some editors carries no text.
  string(FIND "${_hex}" "-ef-bb-bf" _bom)
  if(_bom EQUAL 0)
    string(SUBSTRING "${_hex}" 9 -1 _hex)
  endif()
  # Hex holds no ";", so replacing each line feed with ";" yields the list of lines
  # (a final line feed leaves one empty element at the end, which is skipped below).
  string(REPLACE "-0a" ";" _lines "${_hex}")

  set(_base "")
  set(_line_no 0)
  foreach(_line IN LISTS _lines)
    math(EXPR _line_no "${_line_no} + 1")
    set(_where "${_name}:${_line_no}")
    if(_line STREQUAL "" OR _line MATCHES "^-23")
      continue()
    endif()
    if(_line MATCHES "-0d")
      message(FATAL_ERROR "${_where}: carriage return in the line; save the file with LF line endings")
    endif()
    if(_line MATCHES "${_control}")
      message(FATAL_ERROR "${_where}: control character in the line")
    endif()
    if(NOT _line MATCHES "${_utf8_line}")
      message(FATAL_ERROR "${_where}: the line is not valid UTF-8")
    endif()

    # "base N"
    if(_line MATCHES "^-62-61-73-65-20(${_digits})$")
      string(REGEX REPLACE "-3([0-9])" "\\1" _number "${CMAKE_MATCH_1}")
      if(NOT _base STREQUAL "")
        message(FATAL_ERROR "${_where}: second base line (the base is already ${_base})")
      endif()
      if(NOT _number MATCHES "^(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?[0-9]?[0-9]?[0-9]?[0-9]?)$")
        message(FATAL_ERROR
          "${_where}: the base must be a number from 0 to 999999999 without leading zeros")
      endif()
      if(DEFINED _base_where_${_number})
        message(FATAL_ERROR "${_where}: base ${_number} is already given at ${_base_where_${_number}}")
      endif()
      set(_base_where_${_number} "${_where}")
      set(_base "${_number}")
      continue()
    endif()

    # "K<TAB>TEXT"
    if(NOT _line MATCHES "^(${_digits})-09(.*)$")
      message(FATAL_ERROR
        "${_where}: malformed line; expected \"base N\", or a message number, a TAB and the text")
    endif()
    set(_text "${CMAKE_MATCH_3}")
    string(REGEX REPLACE "-3([0-9])" "\\1" _k "${CMAKE_MATCH_1}")
    if(_base STREQUAL "")
      message(FATAL_ERROR "${_where}: message before the \"base N\" line")
    endif()
    if(NOT _k MATCHES "^(0|[1-9][0-9]?[0-9]?)$")
      message(FATAL_ERROR
        "${_where}: the message number must be 0 to 999 without leading zeros, not ${_k}")
    endif()

    # Escapes are decoded in one left-to-right pass, so "\\n" is a backslash and an "n":
    # each known escape becomes a marked byte ("X5c", "X74", "X6e"), a backslash still
    # unmarked afterwards starts an unknown escape, then the marks become plain bytes.
    string(REGEX REPLACE "-5c-(5c|74|6e)" "X\\1" _text "${_text}")
    if(_text MATCHES "-5c")
      message(FATAL_ERROR
        "${_where}: unknown escape; a backslash may only be followed by a backslash, t or n")
    endif()
    string(REPLACE "X5c" "-5c" _text "${_text}")
    string(REPLACE "X74" "-09" _text "${_text}")
    string(REPLACE "X6e" "-0a" _text "${_text}")

    math(EXPR _id "${_base} + ${_k}")
    if(DEFINED _id_where_${_id})
      message(FATAL_ERROR
        "${_where}: message ${_k} is id ${_id}, which is already given at ${_id_where_${_id}}")
    endif()
    set(_id_where_${_id} "${_where}")
    set(_id_text_${_id} "${_text}")
    list(APPEND _ids "${_id}")
  endforeach()

  if(_base STREQUAL "")
    message(FATAL_ERROR "${_name}: no \"base N\" line")
  endif()
endforeach()

if(NOT _ids)
  message(FATAL_ERROR "embed_messages.cmake: the message files in ${LANG_DIR} hold no message")
endif()
list(SORT _ids COMPARE NATURAL)

set(_out "// Generated by embed_messages.cmake from ${LANG_DIR}/*.txt; edit those files.\n")
string(APPEND _out "// Every text is stored byte for byte as hex escapes, sorted by message id.\n\n")
string(APPEND _out "#include \"${DATA_HEADER}\"\n\n")
string(APPEND _out "#include <string_view>\n\n")
string(APPEND _out "namespace fennick::messages::detail {\n")
string(APPEND _out "namespace {\n")
string(APPEND _out "using namespace std::string_view_literals;\n\n")
string(APPEND _out "constexpr MessageEntry kEntries[] = {\n")
foreach(_id IN LISTS _ids)
  # Every byte becomes a \x escape; as the next character is always another escape or
  # the closing quote, no escape can run on into a following hex digit.
  string(REPLACE "-" "\\x" _escaped "${_id_text_${_id}}")
  string(APPEND _out "    {${_id}, \"${_escaped}\"sv},  // ${_id_where_${_id}}\n")
endforeach()
string(APPEND _out "};\n\n")
string(APPEND _out "}  // namespace\n\n")
string(APPEND _out "std::span<const MessageEntry> message_entries() { return kEntries; }\n\n")
string(APPEND _out "}  // namespace fennick::messages::detail\n")

# Write beside the target and rename, so an interrupted run never leaves half a file.
file(WRITE "${OUTPUT}.tmp" "${_out}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
