# The .deb, made by CPack's DEB generator (scripts/package-linux). What it
# holds beyond `cmake --install` (the copyright file and the changelog Debian
# asks for) is the component "deb", which a plain install leaves out.
set(SHARELINK_DEB_RELEASE 1)
set(SHARELINK_DEB_VERSION ${PROJECT_VERSION}-${SHARELINK_DEB_RELEASE})

# The changelog dates its entry as RFC 2822 does ("Wed, 09 Dec 2026 12:00:00 +0000").
execute_process(COMMAND date -u -R -d "${SHARELINK_RELEASE_DATE} 12:00"
  OUTPUT_VARIABLE SHARELINK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE failed)
if(failed)
  message(WARNING "date cannot write ${SHARELINK_RELEASE_DATE} for the package's changelog")
endif()
configure_file(changelog.in changelog.Debian @ONLY)
sharelink_gzip(${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian changelog)
install(FILES copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sharelink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the sharelink developers")
set(CPACK_PACKAGE_CONTACT ${SHARELINK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resolve cloud-disk share links into direct download links")
set(CPACK_PACKAGE_DESCRIPTION
    "sharelink turns the share link of a cloud-disk service into direct download
links. Paste a share link and press 解析: the program fetches the share page,
asks for the extraction code and captchas when the service demands them, walks
shared folders and requests a direct link for every file; it copies the links
or downloads the files itself. Its texts are Chinese.

sharelink-cli runs the same job on a terminal, for scripts and aria2.")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${SHARELINK_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${SHARELINK_HOMEPAGE})
# The libraries come from dpkg-shlibdeps. It cannot see these: FLTK 1.3 has no
# per-character font fallback and every text is Chinese, libcurl checks
# certificates against the system's store, and the window shows the download
# folder with xdg-open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, ca-certificates, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The default install and the component "deb", in one package.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};Unspecified;/"
    "${PROJECT_BINARY_DIR};${PROJECT_NAME};deb;/")
include(CPack)
