# Applied to every target, third-party code included, so that instrumented and plain code never mix.
#
# Inline code stays hidden in sanitized builds. Otherwise the program exports its instrumented
# copies of libstdc++'s inline functions, and a desktop library that uses the same ones binds to
# them: JavaScriptCore then releases its own shared pointers through our copy, whose vptr check
# cannot see JavaScriptCore's types (it is built without RTTI) and stops the program with a false
# report when the UI process's script context goes away.
if(WHEELBOX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all
                      $<$<COMPILE_LANGUAGE:CXX>:-fvisibility-inlines-hidden>)
  add_link_options(-fsanitize=address,undefined)
elseif(WHEELBOX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer $<$<COMPILE_LANGUAGE:CXX>:-fvisibility-inlines-hidden>)
  add_link_options(-fsanitize=thread)
elseif(NOT WHEELBOX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "WHEELBOX_SANITIZE must be empty, 'address' or 'thread'")
endif()
