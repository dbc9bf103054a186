# The two Debian packages, made by CPack from the install rules' components:
#   cantorella         component app:    the desktop program
#   cantorella-server  component server: the backend and sign-in service
#   cpack --config BUILD/CPackConfig.cmake -B OUTPUT      (scripts/package.sh does this)
#
# Dependencies: dpkg-shlibdeps names the packages of the shared libraries each program links,
# whatever those are at the time. The lists below are what it cannot see: what the program loads
# at run time (QML modules, plugins, fonts, the Secret Service library), and what the server
# package's scripts run. They are the run-time group of scripts/install-deps.sh.

set(CANTORELLA_PACKAGE_MAINTAINER "The Cantorella developers <developers@cantorella.app>"
    CACHE STRING "Maintainer named in the Debian packages")
set(CANTORELLA_HOMEPAGE "https://cantorella.app/")

# The QML modules the screens import (tests/packaging checks this list against the imports), the
# library the secret store opens on demand, and the font the window sets.
set(CANTORELLA_APP_RUNTIME_DEPENDS
    qml6-module-qtqml
    qml6-module-qtqml-workerscript
    qml6-module-qtqml-models
    qml6-module-qtquick
    qml6-module-qtquick-window
    qml6-module-qtquick-controls
    qml6-module-qtquick-templates
    qml6-module-qtquick-layouts
    qml6-module-qtquick-shapes
    qml6-module-qt5compat-graphicaleffects
    libsecret-1-0
    fonts-noto-cjk)
# Wayland sessions without XWayland; Qt's own Chinese texts (the save dialog); the emoji in lyrics
# and cards; a Secret Service to keep the sign-in across runs.
set(CANTORELLA_APP_RUNTIME_RECOMMENDS
    qt6-wayland
    qt6-translations-l10n
    fonts-noto-color-emoji
    gnome-keyring)
# The package scripts: adduser makes the system user (deb-systemd-helper, which enables the unit,
# is in an essential package).
set(CANTORELLA_SERVER_RUNTIME_DEPENDS adduser)

list(JOIN CANTORELLA_APP_RUNTIME_DEPENDS ", " _app_depends)
list(JOIN CANTORELLA_APP_RUNTIME_RECOMMENDS ", " _app_recommends)
list(JOIN CANTORELLA_SERVER_RUNTIME_DEPENDS ", " _server_depends)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cantorella)
set(CPACK_PACKAGE_VENDOR "The Cantorella developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${CANTORELLA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL app server)
set(CPACK_COMPONENTS_GROUPING IGNORE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CANTORELLA_HOMEPAGE}")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_APP_PACKAGE_NAME cantorella)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "${_app_depends}")
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "${_app_recommends}")
set(CPACK_COMPONENT_APP_DESCRIPTION [=[synced lyrics and English study cards for the song playing
Cantorella follows the song any MPRIS media player on the desktop is playing
and scrolls its time-synced lyrics with the music. For English songs it makes
study cards for Chinese-speaking learners (phrase, translation, note, example
and hints), each lit while its line is sung, with favourites, history, song
stories and a backup of the study library. It needs a Cantorella server
(package cantorella-server) and an account on it.]=])

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME cantorella-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "${_server_depends}")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst"
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm"
    "${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm")
set(CPACK_COMPONENT_SERVER_DESCRIPTION [=[backend and sign-in service of Cantorella
The server of the Cantorella desktop program: accounts and sign-ins, backups
of study libraries, and the lyrics, study cards and stories of songs, from its
cache, a folder of LRC files, an online lyrics database or a language model.
It keeps its data in SQLite or PostgreSQL. The package runs it as a systemd
service under its own system user, with its data in /var/lib/cantorella-server.]=])

include(CPack)
