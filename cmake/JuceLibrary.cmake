# Builds the framework modules we use into one static library, trb_juce.
#
# The modules are linked PRIVATE so their sources are compiled here only; their
# include paths and definitions are then re-exported so every consumer sees the
# same configuration. The platform's own changes to the framework come with
# the platform (cmake/Platform<Name>.cmake).

# The core module with a String that stays within its allocation whatever
# bytes it is made from, on every platform.
include(JucePatch)
trb_patch_framework_module(juce_core "${PROJECT_SOURCE_DIR}/cmake/patches/juce_core-utf8-string.patch")

add_library(trb_juce STATIC)

target_link_libraries(trb_juce
    PRIVATE
        juce::juce_core
        # SHA-256 of the update file, for the digest its maker publishes (--sha256).
        juce::juce_cryptography
        juce::juce_data_structures
        juce::juce_events
        juce::juce_graphics
        juce::juce_gui_basics
    PUBLIC
        juce::juce_recommended_config_flags)

target_compile_definitions(trb_juce
    PUBLIC
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_STANDALONE_APPLICATION=1
        JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
        # Tests and tools run the message loop on their own main thread.
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_APPLICATION_NAME_STRING="${TRB_PROGRAM_NAME}"
        JUCE_APPLICATION_VERSION_STRING="${PROJECT_VERSION}")

target_include_directories(trb_juce
    INTERFACE $<TARGET_PROPERTY:trb_juce,INCLUDE_DIRECTORIES>)
target_compile_definitions(trb_juce
    INTERFACE $<TARGET_PROPERTY:trb_juce,COMPILE_DEFINITIONS>)

pkg_check_modules(TRB_IMG_DEPS IMPORTED_TARGET libpng libjpeg)
if(TRB_IMG_DEPS_FOUND)
    target_link_libraries(trb_juce PUBLIC PkgConfig::TRB_IMG_DEPS)
endif()

set_target_properties(trb_juce PROPERTIES POSITION_INDEPENDENT_CODE ON)
