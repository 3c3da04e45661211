# The checked changes to the framework's modules, each a unified diff under
# cmake/patches/ (what it changes and why is written at its top). A change is
# made to copies, in the build tree, of the module's unity file and of the
# files the diff names; every other file is read from the framework. GNU patch
# applies it without fuzz after a dry run: a framework whose code differs stops
# the configure step, with nothing half changed, instead of building something
# unexamined.
#
#   trb_patch_framework_module(juce_core "${PROJECT_SOURCE_DIR}/cmake/patches/<change>.patch")
#
# To change a diff: configure once, edit the copy under
# build/<tree>/juce-patched/<module>/, and write the diff again against the
# framework's file (its CR LF line ends made LF, as the copies have them), with
# a/ and b/ before the paths inside the module.

# The framework version whose code every change was read against. Another
# version may hold the same text with other code around it, so the version is
# checked before any diff is tried.
set(TRB_JUCE_CHECKED_VERSION "7.0.5")

# The build machine's patch (also in a cross-build, where programs are the
# build machine's).
find_program(TRB_PATCH_PROGRAM patch)
if(NOT TRB_PATCH_PROGRAM)
    message(FATAL_ERROR "GNU patch not found; it applies the changes to the framework (cmake/patches/). "
                        "tools/install-deps.sh installs it")
endif()

# Stops the configure step unless the framework found is the checked version
# (JUCE_VERSION, set by find_package(JUCE CONFIG)).
function(trb_patch_check_framework_version)
    if(NOT DEFINED JUCE_VERSION)
        message(FATAL_ERROR "the framework's version is unknown (find_package(JUCE CONFIG) sets JUCE_VERSION); "
                            "its changes were checked against JUCE ${TRB_JUCE_CHECKED_VERSION} only")
    endif()
    if(NOT JUCE_VERSION VERSION_EQUAL TRB_JUCE_CHECKED_VERSION)
        message(FATAL_ERROR "JUCE ${JUCE_VERSION} found, but the changes to the framework's modules "
                            "(cmake/patches/) were checked against JUCE ${TRB_JUCE_CHECKED_VERSION} only; "
                            "review each change against this version, then update TRB_JUCE_CHECKED_VERSION "
                            "in cmake/JucePatch.cmake")
    endif()
endfunction()

# Applies one diff to copies of the module's files and makes the module build
# from the copied unity file, which finds the changed files beside itself and
# every other file of the module in the framework's folder. Called from the
# directory that builds the module (the copies' source properties are that
# directory's).
function(trb_patch_framework_module module patch_file)
    trb_patch_check_framework_version()

    get_target_property(sources ${module} INTERFACE_SOURCES)
    set(unity "${sources}")
    list(FILTER unity INCLUDE REGEX "/${module}\\.cpp$")
    if(NOT unity)
        message(FATAL_ERROR "${module}.cpp not found among the framework module's sources")
    endif()
    get_filename_component(module_dir "${unity}" DIRECTORY)
    set(patched_dir "${CMAKE_BINARY_DIR}/juce-patched/${module}")
    set(staging_dir "${CMAKE_BINARY_DIR}/juce-patched/${module}.staging")

    # The files the diff changes ("+++ b/<path>"), and the unity file.
    file(STRINGS "${patch_file}" files REGEX "^\\+\\+\\+ b/")
    list(TRANSFORM files REPLACE "^\\+\\+\\+ b/([^\t]*).*$" "\\1")
    list(APPEND files "${module}.cpp")
    list(REMOVE_DUPLICATES files)

    # The diffs are written with LF line ends; the framework's files end their
    # lines in CR LF, so the copies are made with LF.
    file(REMOVE_RECURSE "${staging_dir}")
    foreach(file IN LISTS files)
        if(NOT EXISTS "${module_dir}/${file}")
            message(FATAL_ERROR "the framework's ${module}/${file}, which ${patch_file} changes, does not exist")
        endif()
        file(READ "${module_dir}/${file}" text)
        string(REPLACE "\r\n" "\n" text "${text}")
        file(WRITE "${staging_dir}/${file}" "${text}")
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${patch_file}")
    list(TRANSFORM files PREPEND "${module_dir}/" OUTPUT_VARIABLE framework_files)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${framework_files})

    set(patch_command "${TRB_PATCH_PROGRAM}" --batch --forward --fuzz=0 --strip=1
        --directory=${staging_dir} --input=${patch_file} --reject-file=- --no-backup-if-mismatch)
    execute_process(COMMAND ${patch_command} --dry-run
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${patch_file} does not apply to the framework's ${module} (${module_dir}); "
                            "review the change for this version:\n${output}")
    endif()
    execute_process(COMMAND ${patch_command}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "applying ${patch_file} to ${staging_dir} failed:\n${output}")
    endif()

    # Only a copy that differs is replaced, so that an unchanged framework
    # rebuilds nothing.
    foreach(file IN LISTS files)
        get_filename_component(folder "${patched_dir}/${file}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(COPY_FILE "${staging_dir}/${file}" "${patched_dir}/${file}" ONLY_IF_DIFFERENT)
    endforeach()
    file(REMOVE_RECURSE "${staging_dir}")

    list(TRANSFORM sources REPLACE "^.*/${module}\\.cpp$" "${patched_dir}/${module}.cpp")
    set_property(TARGET ${module} PROPERTY INTERFACE_SOURCES "${sources}")
    set_source_files_properties("${patched_dir}/${module}.cpp" PROPERTIES
        INCLUDE_DIRECTORIES "${module_dir}")
endfunction()
