# The server's tests link the server library and may start the server executable. The fakes on
# the far side of outgoing calls (LoopbackHttp.h) are cpp-httplib servers.
if(NOT TARGET PkgConfig::CANTORELLA_TEST_HTTPLIB)
    pkg_check_modules(CANTORELLA_TEST_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
target_link_libraries(${_target} PRIVATE cantorella_server PkgConfig::CANTORELLA_TEST_HTTPLIB)
if(TARGET cantorella-server)
    target_compile_definitions(${_target} PRIVATE
        CANTORELLA_SERVER_BINARY="$<TARGET_FILE:cantorella-server>")
    add_dependencies(${_target} cantorella-server)
endif()

# The application's clients against the real server run once more with PostgreSQL as its store
# (a cluster of the test's own, see PgFixture.h).
file(STRINGS "${_src}" _uses_server_clients REGEX "#include \"ServerClients.h\"")
# Tests that choose their own PostgreSQL (several processes on one database) run once, and so does
# the tests of the HTTP layer (they do not depend on the store).
if(_uses_server_clients AND NOT _name MATCHES "^tst_(multiprocess|llmprocesses|serverhostile|servertransport)$")
    add_test(NAME ${_test}_postgresql COMMAND ${_program})
    set_tests_properties(${_test}_postgresql PROPERTIES LABELS server TIMEOUT 300
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CANTORELLA_TEST_DATABASE=postgresql")
endif()
