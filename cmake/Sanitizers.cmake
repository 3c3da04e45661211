# TRB_SANITIZER=address builds everything (the framework included) with
# AddressSanitizer and UndefinedBehaviorSanitizer; TRB_SANITIZER=thread with
# ThreadSanitizer. The framework must carry the same instrumentation as our code,
# so the flags are global for the build tree.

if(TRB_SANITIZER STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(TRB_SANITIZER STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT TRB_SANITIZER STREQUAL "")
    message(FATAL_ERROR "TRB_SANITIZER must be empty, 'address' or 'thread'")
endif()
