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

# Unity build: the target's files compiled a few at a time in one translation unit. Files whose
# file-local names (anonymous namespace, static) clash with another file's stay out:
#   set_source_files_properties(<file> PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
# -DCMAKE_UNITY_BUILD=OFF does not turn this off; build with -DCANTORELLA_UNITY_BUILD=OFF.
option(CANTORELLA_UNITY_BUILD "Compile each library's files a few at a time in one translation unit" ON)
function(cantorella_unity_build target)
    if(NOT CANTORELLA_UNITY_BUILD)
        return()
    endif()
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
    # GCC reports a type that uses a file-local type when it is not defined in the main file;
    # in a unity build every source file is an included file, so each coroutine frame that holds
    # a file-local value would be reported.
    target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
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
    cantorella_unity_build(${name})
endfunction()

# Precompiled headers: the Qt, QCoro and standard headers nearly every file of the target
# includes, parsed once per target instead of once per file. Each target builds its own (the
# compiler accepts a precompiled header only with the flags and Qt module macros it was built
# with, and these differ between targets). Groups, by what the target links:
#   (always)  Qt Core, Qt Network's reply, QCoro's task and the standard library
#   QML       Qt Qml's registration macros and engine
#   QUICK     Qt Quick's items and window (implies QML)
#   TEST      Qt Test (the whole module header the tests include)
# `FROM <other>` uses <other>'s instead of building one: only for a target that links the same Qt
# modules (same QT_*_LIB macros) with the same groups; otherwise GCC warns "not used because …"
# (-Winvalid-pch) and parses the headers itself, which is correct but slow.
# -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON turns them off, e.g. to check that every file includes
# what it uses.
function(cantorella_precompile_headers target)
    cmake_parse_arguments(ARG "QML;QUICK;TEST" "FROM" "" ${ARGN})
    if(ARG_FROM)
        target_precompile_headers(${target} REUSE_FROM ${ARG_FROM})
        return()
    endif()
    set(_headers
        <algorithm> <chrono> <cmath> <functional> <memory> <optional> <string> <utility> <vector>
        <QByteArray> <QDateTime> <QDir> <QFile> <QHash> <QJsonArray> <QJsonDocument> <QJsonObject>
        <QJsonValue> <QList> <QObject> <QPointer> <QRegularExpression> <QSet> <QString>
        <QStringList> <QTimer> <QUrl> <QVariant> <QNetworkReply>
        <qcoro/qcorotask.h>)
    if(ARG_QML OR ARG_QUICK)
        list(APPEND _headers <QtQml/qqmlregistration.h> <QQmlEngine> <QColor>)
    endif()
    if(ARG_QUICK)
        list(APPEND _headers <QQuickItem> <QQuickWindow>)
    endif()
    if(ARG_TEST)
        list(APPEND _headers <QtTest> <QSignalSpy> <QTemporaryDir>)
    endif()
    target_precompile_headers(${target} PRIVATE ${_headers})
endfunction()
