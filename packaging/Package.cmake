# The Debian package (tools/make-package runs cpack): everything `cmake --install` lays out, with the
# prefix /usr, plus what only a package carries (component "package": the settings tool on the PATH,
# AppStream data, documentation). A plain `cmake --install` leaves those out, so that the uninstall
# command, which removes only what that install made, leaves nothing behind.
set(DV_PACKAGE_MAINTAINER "Docuvane <support@docuvane.com>" CACHE STRING "The package's Maintainer field")
set(DV_HOMEPAGE_URL "" CACHE STRING "The product's web page: the package's Homepage and the AppStream url (none when empty)")
set(DV_SCREENSHOT_URL "" CACHE STRING "A screenshot of the client that software centres show (none when empty)")

# The changelog's newest entry must be this version; its date is the release date the AppStream data
# gives.
file(STRINGS changelog changelog_lines)
list(GET changelog_lines 0 newest)
if(NOT newest MATCHES "^docuvane-fetch \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "packaging/changelog: the newest entry is not version ${PROJECT_VERSION}; add one")
endif()
set(DV_RELEASE_DATE "")
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
        list(FIND months "${CMAKE_MATCH_2}" month)
        math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
        string(LENGTH "${month}" digits)
        if(digits EQUAL 1)
            set(month "0${month}")
        endif()
        set(DV_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}")
        break()
    endif()
endforeach()
if(NOT DV_RELEASE_DATE)
    message(FATAL_ERROR "packaging/changelog: the newest entry has no trailer line with a date")
endif()

set(DV_METAINFO_OPTIONAL "")
dv_append_xml_if_set(DV_METAINFO_OPTIONAL "${DV_HOMEPAGE_URL}" "  <url type=\"homepage\">@VALUE@</url>\n")
dv_append_xml_if_set(DV_METAINFO_OPTIONAL "${DV_SCREENSHOT_URL}"
    "  <screenshots>\n    <screenshot type=\"default\">\n"
    "      <caption>The menu of the tray icon while documents arrive</caption>\n"
    "      <image>@VALUE@</image>\n    </screenshot>\n  </screenshots>\n")
set(metainfo "${CMAKE_CURRENT_BINARY_DIR}/com.docuvane.DocuvaneFetch.metainfo.xml")
configure_file(com.docuvane.DocuvaneFetch.metainfo.xml.in "${metainfo}" @ONLY)

# Debian keeps documentation compressed, without a timestamp in the header.
set(compressed "")
foreach(file changelog docuvane-defaults.1)
    set(gz "${CMAKE_CURRENT_BINARY_DIR}/${file}.gz")
    add_custom_command(OUTPUT "${gz}"
        COMMAND sh -c "gzip -9nc \"$0\" >\"$1\"" "${CMAKE_CURRENT_SOURCE_DIR}/${file}" "${gz}"
        DEPENDS "${file}" VERBATIM)
    list(APPEND compressed "${gz}")
endforeach()
add_custom_target(dv_package_documents ALL DEPENDS ${compressed})

set(package_only COMPONENT package EXCLUDE_FROM_ALL)
install(TARGETS docuvane-defaults RUNTIME DESTINATION bin ${package_only})
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/docuvane-defaults.1.gz" DESTINATION share/man/man1 ${package_only})
install(FILES "${metainfo}" DESTINATION share/metainfo ${package_only})
install(FILES copyright "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz" DESTINATION share/doc/docuvane-fetch ${package_only})
install(FILES lintian-overrides RENAME docuvane-fetch DESTINATION share/lintian/overrides ${package_only})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME docuvane-fetch)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR Docuvane)
set(CPACK_PACKAGE_CONTACT "${DV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop delivery client of the Docuvane document service")
set(CPACK_PACKAGE_DESCRIPTION [=[Docuvane Fetch signs in to a Docuvane account, asks the service every four
hours and on request which documents wait, downloads each into the fetch
folder on the Desktop and reports it transferred. It lives in the system
tray and announces each document with a notification.
.
The application menu holds the client and an uninstaller.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The product folder is an absolute destination, which only a staged install (DESTDIR) keeps inside
# the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified package)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${DV_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the binaries start or load by name, which no library dependency brings: the uninstaller asks
# for administrator rights with pkexec, the client opens pages and folders with xdg-open, and Qt
# finds its display connection in a plugin. addr2line names the frames of logged exceptions.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, xdg-utils, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS binutils)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_SOURCE_DIR}/StripStaged.cmake")
include(CPack)
