# When a target's globbed file list changes in an existing build folder, drop its automoc
# stamp: Ninja's automoc step (CMake 3.25) does not notice a header added after configuring,
# and its Q_OBJECT class would then have no moc output.
function(cantorella_rerun_automoc_on_new_files name sources)
    set(_list "${CMAKE_CURRENT_BINARY_DIR}/${name}_sources.txt")
    string(REPLACE ";" "\n" _content "${sources}")
    if(EXISTS "${_list}")
        file(READ "${_list}" _previous)
        if(NOT _previous STREQUAL _content)
            file(REMOVE "${CMAKE_CURRENT_BINARY_DIR}/${name}_autogen/timestamp")
        endif()
    endif()
    file(WRITE "${_list}" "${_content}")
endfunction()

# One static library per subsystem folder. Sources are picked up from the folder
# (and its sub-folders) so that adding a file needs no edit here.
function(cantorella_library name dir)
    cmake_parse_arguments(ARG "" "" "LINKS" ${ARGN})
    file(GLOB_RECURSE _sources CONFIGURE_DEPENDS "${dir}/*.cpp" "${dir}/*.h")
    if(NOT _sources)
        # An empty subsystem still gets a target so that dependents can link it.
        set(_stub "${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp")
        file(WRITE "${_stub}" "// intentionally empty\n")
        set(_sources "${_stub}")
    endif()
    add_library(${name} STATIC ${_sources})
    cantorella_rerun_automoc_on_new_files(${name} "${_sources}")
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()
