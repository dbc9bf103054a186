# End-to-end tests that show real windows run on a virtual X display of their own (OpenGL through
# llvmpipe), so that screenshots show what a person sees.
if(_name MATCHES "_xvfb$")
    set(_command "${CMAKE_CURRENT_SOURCE_DIR}/support/on-own-display.sh" 1280x1024x24 "${_program}")
    set(_environment "QT_QPA_PLATFORM=xcb")
endif()
# The demo stage starts the real server.
if(TARGET cantorella-server)
    add_dependencies(${_target} cantorella-server)
endif()
# The run-script test starts the demo on what the build made, the demo songs included.
if(TARGET cantorella_demo_songs)
    add_dependencies(${_target} cantorella_demo_songs)
endif()
