# Runs the icon generator into a scratch folder and fails when its output
# differs from the committed resources/warning_icon.png or
# resources/WarningIconData.cpp, so the two cannot drift apart from the drawing.
#
# cmake -DGENERATOR=<make-warning-icon> -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -P CheckWarningIcon.cmake

file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(
    COMMAND "${GENERATOR}" "${WORK_DIR}/warning_icon.png" "${WORK_DIR}/WarningIconData.cpp"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "make-warning-icon failed: ${result}")
endif()

foreach(name warning_icon.png WarningIconData.cpp)
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK_DIR}/${name}" "${SOURCE_DIR}/resources/${name}"
        RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        message(FATAL_ERROR "resources/${name} is not what tools/MakeWarningIcon.cpp writes; run it again and commit its output")
    endif()
endforeach()
