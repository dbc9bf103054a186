# The server's tests link the server library and may start the server executable.
target_link_libraries(${_target} PRIVATE cantorella_server)
if(TARGET cantorella-server)
    target_compile_definitions(${_target} PRIVATE
        CANTORELLA_SERVER_BINARY="$<TARGET_FILE:cantorella-server>")
    add_dependencies(${_target} cantorella-server)
endif()
