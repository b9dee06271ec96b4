# pkg-config file and Debian packages (cpack -G DEB): a runtime package with
# the three shared libraries and a development package with the headers, the
# CMake package, korcore.pc and the examples. The files Debian asks of every
# package (copyright, changelog, triggers) are in cmake/debian.

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
# A Debian revision after the version: without one dpkg and lintian take the
# packages for native ones, whose changelog goes by another name than
# changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(KOR_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

set(KOR_DEB_RUNTIME libkorcore${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${KOR_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS
    "libqt6core6 (>= ${Qt6Core_VERSION_MAJOR}.${Qt6Core_VERSION_MINOR}), libstdc++6 (>= 12), libc6 (>= 2.34)")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "KorCore runtime: the shared libraries KorCore, Varnet and Moltrix")
# A shlibs file lets packages built against these libraries depend on this
# one; any later release of the same sonames will do.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# dpkg runs ldconfig once after all packages of a run are unpacked.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkorcore-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# Its CMake package finds Qt, so the development files of Qt come along.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${KOR_DEB_RUNTIME} (= ${KOR_DEB_VERSION}), qt6-base-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "KorCore development files: headers, CMake package, pkg-config file")

# Each package carries the copyright file and the changelog in its own doc
# folder. They belong to the packages only, so a plain install leaves them out.
set(KOR_DEB_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
file(STRINGS ${KOR_DEB_DIR}/changelog KOR_DEB_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT KOR_DEB_CHANGELOG_TOP MATCHES "^korcore \\(${KOR_DEB_VERSION}\\) ")
    # A build for tests or development goes on; the package check's lintian
    # run fails on the mismatch.
    message(WARNING "cmake/debian/changelog: the top entry is '${KOR_DEB_CHANGELOG_TOP}', "
        "the packages are ${KOR_DEB_VERSION}; add an entry for this version")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KOR_DEB_DIR}/changelog)
set(KOR_DEB_BUILD_DIR ${PROJECT_BINARY_DIR}/debian)
file(MAKE_DIRECTORY ${KOR_DEB_BUILD_DIR})
# -n leaves out the name and time of the file, so equal sources give equal bytes.
execute_process(COMMAND gzip -9n
    INPUT_FILE ${KOR_DEB_DIR}/changelog
    OUTPUT_FILE ${KOR_DEB_BUILD_DIR}/changelog.Debian.gz
    COMMAND_ERROR_IS_FATAL ANY)
function(kor_deb_docs component package)
    install(FILES ${KOR_DEB_DIR}/copyright ${KOR_DEB_BUILD_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()
kor_deb_docs(Runtime ${KOR_DEB_RUNTIME})
kor_deb_docs(Development ${CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME})

# The development package's examples: the example host program with a
# CMakeLists.txt of its own, and a sample machine (store and setup.xml) whose
# folders lie below a scratch root the reader copies it to.
set(KOR_PACKAGE_SAMPLE_ROOT /tmp/kor-sample CACHE PATH
    "Where the packaged sample machine's paths point (the reader copies it there)")
function(kor_deb_examples)
    set(examples ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME}/examples)
    set(sample ${KOR_DEB_BUILD_DIR}/sample)
    set(KOR_SAMPLE_ROOT ${KOR_PACKAGE_SAMPLE_ROOT})
    configure_file(${PROJECT_SOURCE_DIR}/examples/sample/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini.in
        ${sample}/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/examples/sample/updater/setup.xml.in ${sample}/updater/setup.xml @ONLY)
    configure_file(${KOR_DEB_DIR}/examples-README ${KOR_DEB_BUILD_DIR}/examples-README @ONLY)
    install(DIRECTORY ${sample} DESTINATION ${examples} COMPONENT Development EXCLUDE_FROM_ALL)
    install(FILES ${KOR_DEB_BUILD_DIR}/examples-README DESTINATION ${examples} RENAME README
        COMPONENT Development EXCLUDE_FROM_ALL)
    install(FILES ${PROJECT_SOURCE_DIR}/examples/hostexample/main.cpp DESTINATION ${examples}/hostexample
        COMPONENT Development EXCLUDE_FROM_ALL)
    install(FILES ${KOR_DEB_DIR}/hostexample.cmake DESTINATION ${examples}/hostexample RENAME CMakeLists.txt
        COMPONENT Development EXCLUDE_FROM_ALL)
endfunction()
kor_deb_examples()

include(CPack)
