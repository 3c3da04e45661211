# Helpers for the checked changes to the framework's modules (JuceCoreText.cmake,
# JuceLinuxWindowing.cmake). A change is made to copies, in the build tree, of
# the module's unity file and of the files it changes; every other file is read
# from the framework. Each replacement must find its text: a framework whose
# code differs stops the configure step instead of building something
# unexamined.
#
#   trb_patch_module(juce_core)          the module the calls below change (after
#                                        the framework's version is checked)
#   trb_patch_begin("text/juce_String.cpp")
#   trb_replace_once("old text" "new text")
#   trb_patch_end()
#   trb_patch_use_copied_unity_file()    the module builds from the copies

# The framework version whose code every change was read against. Another
# version may hold the same text with other code around it, so the version is
# checked before any text is looked for.
set(TRB_JUCE_CHECKED_VERSION "7.0.5")

# Stops the configure step unless the framework found is the checked version
# (JUCE_VERSION, set by find_package(JUCE CONFIG)).
function(trb_patch_check_framework_version)
    if(NOT DEFINED JUCE_VERSION)
        message(FATAL_ERROR "the framework's version is unknown (find_package(JUCE CONFIG) sets JUCE_VERSION); "
                            "its changes were checked against JUCE ${TRB_JUCE_CHECKED_VERSION} only")
    endif()
    if(NOT JUCE_VERSION VERSION_EQUAL TRB_JUCE_CHECKED_VERSION)
        message(FATAL_ERROR "JUCE ${JUCE_VERSION} found, but the changes to the framework's modules "
                            "(cmake/JuceCoreText.cmake, cmake/JuceLinuxWindowing.cmake) were checked against "
                            "JUCE ${TRB_JUCE_CHECKED_VERSION} only; review each change against this version, "
                            "then update TRB_JUCE_CHECKED_VERSION in cmake/JucePatch.cmake")
    endif()
endfunction()

# Checks the framework's version and finds the module's unity file; sets
# trb_patch_module, trb_patch_module_dir (the framework's folder of the module)
# and trb_patched_dir (the copies').
macro(trb_patch_module module)
    trb_patch_check_framework_version()
    get_target_property(trb_patch_sources ${module} INTERFACE_SOURCES)
    set(trb_patch_unity "${trb_patch_sources}")
    list(FILTER trb_patch_unity INCLUDE REGEX "${module}\\.cpp$")
    if(NOT trb_patch_unity)
        message(FATAL_ERROR "${module}.cpp not found among the framework module's sources")
    endif()
    set(trb_patch_module "${module}")
    get_filename_component(trb_patch_module_dir "${trb_patch_unity}" DIRECTORY)
    set(trb_patched_dir "${CMAKE_BINARY_DIR}/juce-patched/${module}")
endmacro()

# Reads one of the module's files (a path inside the module) into trb_patch_text.
macro(trb_patch_begin file)
    set(trb_patch_file "${file}")
    file(READ "${trb_patch_module_dir}/${file}" trb_patch_text)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${trb_patch_module_dir}/${file}")
endmacro()

# Replaces the one occurrence of what in trb_patch_text.
function(trb_replace_once what with)
    string(FIND "${trb_patch_text}" "${what}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the framework's ${trb_patch_module}/${trb_patch_file} does not hold "
                            "the code this build changes; review the change for this version")
    endif()
    string(REPLACE "${what}" "${with}" changed "${trb_patch_text}")
    set(trb_patch_text "${changed}" PARENT_SCOPE)
endfunction()

# Writes the changed file beside the copied unity file (only when it differs,
# so that an unchanged framework rebuilds nothing).
macro(trb_patch_end)
    file(WRITE "${trb_patched_dir}/${trb_patch_file}.new" "${trb_patch_text}")
    file(COPY_FILE "${trb_patched_dir}/${trb_patch_file}.new" "${trb_patched_dir}/${trb_patch_file}" ONLY_IF_DIFFERENT)
endmacro()

# The module builds from the copied unity file, which finds the changed files
# beside itself and every other file of the module in the framework's folder.
macro(trb_patch_use_copied_unity_file)
    list(TRANSFORM trb_patch_sources REPLACE "^.*${trb_patch_module}\\.cpp$" "${trb_patched_dir}/${trb_patch_module}.cpp")
    set_property(TARGET ${trb_patch_module} PROPERTY INTERFACE_SOURCES "${trb_patch_sources}")
    set_source_files_properties("${trb_patched_dir}/${trb_patch_module}.cpp" PROPERTIES
        INCLUDE_DIRECTORIES "${trb_patch_module_dir}")
endmacro()
