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
    target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()
