# pkg-config file and Debian packages (cpack -G DEB): a runtime package with
# the three shared libraries and a development package with the headers, the
# CMake package and korcore.pc.

# The pkg-config file names the prefix it is installed under, which is only
# known at install time (cmake --install --prefix, or /usr inside a package).
set(prefix "@prefix@") # kept for the second pass below
configure_file(${CMAKE_CURRENT_LIST_DIR}/korcore.pc.in ${PROJECT_BINARY_DIR}/korcore.pc.in @ONLY)
install(CODE "set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
configure_file(\"${PROJECT_BINARY_DIR}/korcore.pc.in\" \"${PROJECT_BINARY_DIR}/korcore.pc\" @ONLY)"
    COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/korcore.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

set(CPACK_PACKAGE_NAME korcore)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Frame of the family's server programs on Qt 6 Core")
set(CPACK_PACKAGE_CONTACT "KorCore developers <korcore@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL Runtime Development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})

set(KOR_DEB_RUNTIME libkorcore${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${KOR_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "libqt6core6 (>= ${Qt6Core_VERSION_MAJOR}.${Qt6Core_VERSION_MINOR}), libstdc++6 (>= 12), libc6 (>= 2.34)")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "KorCore runtime: the shared libraries KorCore, Varnet and Moltrix")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkorcore-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# Its CMake package finds Qt, so the development files of Qt come along.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${KOR_DEB_RUNTIME} (= ${PROJECT_VERSION}), qt6-base-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "KorCore development files: headers, CMake package, pkg-config file")

include(CPack)
