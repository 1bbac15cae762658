# One INTERFACE target carries the language level, the warnings and the Qt defines;
# every library, program and test links it.
add_library(corvalink_options INTERFACE)
add_library(Corvalink::options ALIAS corvalink_options)
target_compile_features(corvalink_options INTERFACE cxx_std_20)
target_compile_options(corvalink_options INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(corvalink_options INTERFACE
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_USE_QSTRINGBUILDER)

if(CORVALINK_SANITIZE)
  target_compile_options(corvalink_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(corvalink_options INTERFACE -fsanitize=address,undefined)
endif()
if(CORVALINK_TSAN)
  target_compile_options(corvalink_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(corvalink_options INTERFACE -fsanitize=thread)
endif()
