# Compiles the message texts of src/messages/lang/*.txt into fennick_core. Included after
# fennick_core is declared. The texts are turned into a C++ source at build time, so an
# edited or added text file rebuilds the catalogue without touching any C++ file.

set(_fennick_messages_dir "${CMAKE_CURRENT_LIST_DIR}")
# CONFIGURE_DEPENDS re-runs the configuration when a language file is added or removed, so
# the dependency list below stays complete.
file(GLOB _fennick_lang_files CONFIGURE_DEPENDS "${_fennick_messages_dir}/lang/*.txt")
list(SORT _fennick_lang_files)
set(_fennick_message_data "${CMAKE_CURRENT_BINARY_DIR}/message_data.cpp")

add_custom_command(
  OUTPUT "${_fennick_message_data}"
  COMMAND "${CMAKE_COMMAND}"
          "-DLANG_DIR=${_fennick_messages_dir}/lang"
          "-DOUTPUT=${_fennick_message_data}"
          "-DDATA_HEADER=${_fennick_messages_dir}/message_data.h"
          -P "${_fennick_messages_dir}/embed_messages.cmake"
  DEPENDS ${_fennick_lang_files}
          "${_fennick_messages_dir}/embed_messages.cmake"
  COMMENT "Embedding the message catalogue"
  VERBATIM)

target_sources(fennick_core PRIVATE "${_fennick_message_data}")
