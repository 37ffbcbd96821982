# The Debian package of the tool: `cpack -G DEB` in a build configured with tests, benchmarks and
# the sandbox off and CMAKE_INSTALL_PREFIX=/usr gives acctset-remover_<version>_amd64.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME acctset-remover)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "removes one account set of an accounting suite from SQL Server")
set(CPACK_PACKAGE_CONTACT "acctset-remover maintainers <dev@example.com>")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack writes the summary as the first line of the description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop tool for the administrator of a multi-company accounting suite on\n\
Microsoft SQL Server: it lists the account sets registered in the suite's system\n\
database and removes one, with its yearly databases if asked, then verifies the\n\
removal. Its interface is in Simplified Chinese.")
# The libraries the program links (Qt, the ODBC driver manager) come from dpkg-shlibdeps; what it
# loads by name is declared here: Qt's ODBC plugin, a SQL Server ODBC driver and the tool that
# registers it with unixODBC, and the fonts it draws its Chinese text in (the second one is the
# wait window's caption).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6sql6-odbc, tdsodbc | msodbcsql18 | msodbcsql17, odbcinst, fonts-wqy-zenhei, fonts-arphic-ukai")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/debian/postinst;${PROJECT_SOURCE_DIR}/packaging/debian/prerm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
