# The account tests link the account library and its QML module (a static plugin that each
# test imports with Q_IMPORT_QML_PLUGIN(Cantorella_AccountPlugin)).
file(GLOB _account_tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/account/tst_*.cpp")
foreach(_src IN LISTS _account_tests)
    get_filename_component(_name "${_src}" NAME_WE)
    target_link_libraries(account_${_name} PRIVATE cantorella_account cantorella_accountplugin
        Qt6::Quick Qt6::QuickControls2)
endforeach()
