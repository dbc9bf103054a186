# Tests of the ui folder load QML: each links the static QML plugins of the screen modules it
# imports (a plugin pulls in its backing library, QML files and resources and registers itself),
# and loads with `engine.addImportPath("qrc:/")` (see DesignTestSupport.h).
target_link_libraries(${_target} PRIVATE cantorella_ui_design cantorella_ui_designplugin)
target_include_directories(${_target} PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/ui")
# The folder's shared helpers (fakes with Q_OBJECT need moc in the folder's executable).
file(GLOB _ui_helpers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/ui/*.h")
target_sources(${_target} PRIVATE ${_ui_helpers})

# Pixel tests need the OpenGL renderer (offscreen draws no shader): a virtual X display of its own.
if(_name MATCHES "_xvfb$")
    set(_command "${CMAKE_CURRENT_SOURCE_DIR}/support/on-own-display.sh" 1280x1024x24 "${_program}")
    set(_environment "QT_QPA_PLATFORM=xcb")
endif()
# The library screens (study library, song story, sharing), which the shell links too.
target_link_libraries(${_target} PRIVATE cantorella_ui_library cantorella_ui_libraryplugin)
