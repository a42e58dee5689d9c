# What the camera's image gets: the daemon, the diagnostic tool, the
# daemon's systemd unit and its bus policy. optad-sim (host build only) is a
# development tool and is not installed.
#
# The camera's programs live in /usr, so the target build installs there
# unless told otherwise; `cmake --install <dir> --prefix <dir>` puts the same
# tree anywhere (DESTDIR works as usual).
if(NOT OPTAD_HOST AND CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
include(GNUInstallDirs)

install(TARGETS optad rigdump RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# systemd's unit directory for packages, below the prefix
# (/usr/lib/systemd/system), whatever the libraries' multiarch directory.
install(FILES ${CMAKE_SOURCE_DIR}/daemon/optad.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/dbus/com.tavik.ImcControl.conf
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/dbus-1/system.d)
