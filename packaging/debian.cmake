# debian.cmake - the Debian package (make package): CPack's DEB generator over
# the install rules, with the layout Debian expects: /usr prefix, binary
# stripped as dh_strip does, manual page and changelog gzipped with -9n,
# copyright in the doc directory, Depends computed by dpkg-shlibdeps.
# The version has no Debian revision: a native package, so the changelog is
# changelog.gz.

# Compressed copies for the package only; `make install` keeps the plain page.
set(GRAYFIX_DEB_FILES ${CMAKE_BINARY_DIR}/debian/grayfix.1.gz
                      ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(
  OUTPUT ${GRAYFIX_DEB_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND sh -c "gzip -9n -c '${PROJECT_SOURCE_DIR}/grayfix.1' > debian/grayfix.1.gz"
  COMMAND sh -c "gzip -9n -c '${PROJECT_SOURCE_DIR}/packaging/changelog' > debian/changelog.gz"
  DEPENDS ${PROJECT_SOURCE_DIR}/grayfix.1 ${PROJECT_SOURCE_DIR}/packaging/changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  VERBATIM)
add_custom_target(debian_files ALL DEPENDS ${GRAYFIX_DEB_FILES})
install(FILES ${CMAKE_BINARY_DIR}/debian/grayfix.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Debian EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME grayfix
        COMPONENT Debian EXCLUDE_FROM_ALL)

# Debian's names for the target processor.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(GRAYFIX_DEB_ARCH amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(GRAYFIX_DEB_ARCH arm64)
else()
  set(GRAYFIX_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})  # s390x, ppc64el, riscv64 ...
endif()

# CPack strips with CMAKE_STRIP and no options; Debian also drops the
# .comment and .note sections (compiler identification).
if(CMAKE_STRIP)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/debian/strip
       CONTENT "#!/bin/sh\nexec '${CMAKE_STRIP}' --remove-section=.comment --remove-section=.note \"$@\"\n")
  file(CHMOD ${CMAKE_BINARY_DIR}/debian/strip
       PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
  set(CMAKE_STRIP ${CMAKE_BINARY_DIR}/debian/strip)
endif()

set(GRAYFIX_MAINTAINER "The grayfix developers <grayfix@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME grayfix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Everything of a full install except the plain manual page, plus the
# compressed files above, in one package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified Debian)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # grayfix_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${GRAYFIX_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${GRAYFIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "describe and transform grayscale PGM P5 and RAW images")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "grayfix reads one PGM P5 or headerless RAW image of 1 to 16 bits per
pixel, reports its description and statistics (intensity range, number
of levels, bits used, zero-order entropy and CRC-32 checksums), applies
at most one transform and writes the result as PGM P5 or RAW.
.
Transforms: uniform, additive, salt-and-pepper and Gaussian noise,
weighted smoothing and sharpening, median and rank-conditioned denoising,
block-average downsizing, cropping, bit-depth reduction and increase,
byte-order swapping, XOR with a file, and lossless decorrelation with
the average or the JPEG-LS median edge predictor and its exact inverse.
Every message and exit status is fixed, so scripts can rely on them.")
include(CPack)
