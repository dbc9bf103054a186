# The account tests link the account library and its static QML plugin (which brings the module's
# QML files and the design system it imports); QML is loaded with `engine.addImportPath("qrc:/")`.
target_link_libraries(${_target} PRIVATE cantorella_account cantorella_accountplugin Qt6::QuickControls2)
