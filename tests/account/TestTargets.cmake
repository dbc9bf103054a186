# The account tests link the account library and its static QML plugin (which brings the module's
# QML files and the design system it imports); QML is loaded with `engine.addImportPath("qrc:/")`.
target_link_libraries(${_target} PRIVATE cantorella_account cantorella_accountplugin Qt6::QuickControls2)
# What the backup's "appBuild" must say (checked against git by the backup writer test).
target_compile_definitions(${_target} PRIVATE CANTORELLA_TEST_PROJECT_VERSION="${PROJECT_VERSION}"
    CANTORELLA_TEST_BUILD_OVERRIDE="${CANTORELLA_BUILD_NUMBER}" CANTORELLA_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
