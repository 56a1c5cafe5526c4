# What `cmake --install` puts where, in the GNU layout: the program with its
# manual page and help (component Runtime), the desktop entry and icon when the
# window is built, and the library with its headers as the CMake package
# Morphalite (component Development):
#   find_package(Morphalite 3)  then  target_link_libraries(x Morphalite::core)
include(CMakePackageConfigHelpers)

install(TARGETS morphalite RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES docs/morphalite.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
install(FILES docs/readme.htm DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
install(DIRECTORY docs/help DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
if(MORPHALITE_HAVE_QT)
  install(TARGETS morphalite_window RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  install(FILES ui/desktop/morphalite.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT Runtime)
  install(FILES ui/desktop/morphalite.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT Runtime)
  install(FILES ui/desktop/morphalite-mime.xml RENAME morphalite.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT Runtime)
endif()

set(MORPHALITE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Morphalite)
# The public library and the archives it is made of; one header, the only
# one installed: #include <morphalite/morphalite.h>.
install(TARGETS morphalite_library morphalite_cli morphalite_core EXPORT MorphaliteTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES include/morphalite/morphalite.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/morphalite
        COMPONENT Development)
install(EXPORT MorphaliteTargets NAMESPACE Morphalite:: DESTINATION ${MORPHALITE_PACKAGE_DIR}
        COMPONENT Development)
configure_package_config_file(cmake/MorphaliteConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MorphaliteConfig.cmake INSTALL_DESTINATION ${MORPHALITE_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_BINDIR)
# include/morphalite/morphalite.h keeps its promises within a major version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MorphaliteConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MorphaliteConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/MorphaliteConfigVersion.cmake
        DESTINATION ${MORPHALITE_PACKAGE_DIR} COMPONENT Development)
