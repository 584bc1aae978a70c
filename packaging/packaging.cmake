# Installation and the release packages, each with a SHA-256 file:
#
#   Linux build (cpack in the build folder):
#     urea-plugin_VERSION_amd64.deb               library, workbench (and its Python module), docs, header, examples
#     urea-plugin-VERSION-linux-x86_64.tar.gz      library, header, docs
#   Windows build (preset windows):
#     urea-plugin-VERSION-windows-x64.zip          DLL, header, docs
#
# Components: plugin (the library), header (the host's calling convention),
# docs (README, LICENSE, documentation), workbench, python and examples (Linux).
include(GNUInstallDirs)

if(WIN32)
  set(plugin_dir .)
  set(header_dir include)
  set(doc_dir .)
else()
  set(plugin_dir ${CMAKE_INSTALL_LIBDIR}/urea-plugin)
  set(header_dir ${CMAKE_INSTALL_INCLUDEDIR}/urea-plugin)
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/urea-plugin)
endif()

install(TARGETS urea_plugin
  LIBRARY DESTINATION ${plugin_dir} COMPONENT plugin
  RUNTIME DESTINATION ${plugin_dir} COMPONENT plugin)
install(FILES host/host_interface.h DESTINATION ${header_dir} COMPONENT header)
# The README beside docs/ and examples/, so that its links hold.
install(FILES README.md LICENSE DESTINATION ${doc_dir} COMPONENT docs)
install(DIRECTORY docs DESTINATION ${doc_dir} COMPONENT docs)
if(TARGET urea-reactor)
  install(TARGETS urea-reactor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT workbench)
  # The stand-in host beside the plug-in: urea-reactor and the Python module
  # (workbench/python, installed for the system's python3) find it there by
  # their RPATH.
  install(TARGETS urea_host LIBRARY DESTINATION ${plugin_dir} COMPONENT workbench)
  install(DIRECTORY examples DESTINATION ${doc_dir} COMPONENT examples)
endif()

set(CPACK_PACKAGE_NAME urea-plugin)
set(CPACK_PACKAGE_VENDOR "urea-plugin developers")
set(CPACK_PACKAGE_CONTACT "urea-plugin developers <maintainers@users.noreply.c-seed-66ff48d4.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Urea synthesis reactor user routines for process simulators, with a workbench")
set(CPACK_PACKAGE_DESCRIPTION
  "A plug-in library of user routines for chemical process simulators: the rates of the two
urea reactions (USURA), the stream property NC-FLOW (UPROPU) and the component locator
(CMPLOC), with urea-reactor, a workbench that runs a reactor with the plug-in.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
# Which components and file names go with which generator.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_SYSTEM_NAME linux-x86_64)
  set(CPACK_DEB_COMPONENT_INSTALL OFF)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The workbench draws its plots with gnuplot, when asked to; its Python
  # module, built for one python3 minor version, gives results as numpy
  # arrays, and data frames with pandas. Its alerts over TLS (smtps://,
  # https://, STARTTLS) verify the server against the system's CA store.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnuplot-nox | gnuplot, ca-certificates")
  if(TARGET urea_reactor)
    string(REPLACE "." ";" python_version "${UREA_PYTHON_VERSION}")
    list(GET python_version 0 python_major)
    list(GET python_version 1 python_minor)
    math(EXPR python_next "${python_minor} + 1")
    string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS
      ", python3 (>= ${UREA_PYTHON_VERSION}), python3 (<< ${python_major}.${python_next}), python3-numpy")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pandas, python3-matplotlib")
  endif()
endif()
include(CPack)
