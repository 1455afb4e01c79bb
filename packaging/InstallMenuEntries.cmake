# Runs at install time: writes the application-menu launchers for the installed bundles and lists them,
# with the icon, in the uninstaller's bundle. Paths in the files are the installed ones; DESTDIR only
# says where they are written now.
if(IS_ABSOLUTE "${DV_INSTALL_PRODUCT_DIR_SETTING}")
    set(product "${DV_INSTALL_PRODUCT_DIR_SETTING}")
else()
    set(product "${CMAKE_INSTALL_PREFIX}/${DV_INSTALL_PRODUCT_DIR_SETTING}")
endif()
set(applications "${CMAKE_INSTALL_PREFIX}/share/applications")
set(icons "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor")
set(destdir "$ENV{DESTDIR}")

# An Exec value for one program: the argument quoted as the Desktop Entry format requires ('"', '`', '$'
# and '\' escaped, '%' doubled), then the value's own escaping of '\'.
function(dv_exec_value out program)
    string(REPLACE "\\" "\\\\" value "${program}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(REPLACE "`" "\\`" value "${value}")
    string(REPLACE "$" "\\$" value "${value}")
    string(REPLACE "%" "%%" value "${value}")
    string(REPLACE "\\" "\\\\" value "\"${value}\"")
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(entries "")
set(launchers "")
# wm_class: the class X11 windows of the program carry (Qt's application name), so that docks group
# them under the launcher.
function(dv_write_launcher file name comment program categories keywords wm_class)
    dv_exec_value(exec "${program}")
    set(path "${applications}/${file}")
    message(STATUS "Installing: ${destdir}${path}")
    file(WRITE "${destdir}${path}"
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=${name}\n"
        "Comment=${comment}\n"
        "Exec=${exec}\n"
        "Icon=docuvane-fetch\n"
        "Terminal=false\n"
        "Categories=${categories}\n"
        "Keywords=${keywords}\n"
        "StartupWMClass=${wm_class}\n")
    set(entries "${entries}${path}\n" PARENT_SCOPE)
    set(launchers ${launchers} "${path}" PARENT_SCOPE)
endfunction()

if(EXISTS "${destdir}${product}/Docuvane Fetch.app/Contents/MacOS/Docuvane Fetch")
    dv_write_launcher(docuvane-fetch.desktop "Docuvane Fetch"
        "Brings the documents of your Docuvane account into your fetch folder"
        "${product}/Docuvane Fetch.app/Contents/MacOS/Docuvane Fetch" "Network;FileTransfer;"
        "documents;download;account;" "Docuvane Fetch")
endif()
dv_write_launcher(docuvane-fetch-uninstall.desktop "Uninstall Docuvane Fetch"
    "Removes Docuvane Fetch from this computer"
    "${product}/Uninstall.app/Contents/MacOS/Uninstall" "Utility;" "remove;uninstall;" "Uninstall Docuvane Fetch")
# The icon in every size installed.
file(GLOB_RECURSE installed_icons LIST_DIRECTORIES false RELATIVE "${destdir}${icons}" "${destdir}${icons}/*/apps/docuvane-fetch.*")
list(SORT installed_icons)
foreach(icon IN LISTS installed_icons)
    set(entries "${entries}${icons}/${icon}\n")
endforeach()

set(list "${product}/Uninstall.app/Contents/Resources/MenuEntries")
message(STATUS "Installing: ${destdir}${list}")
file(WRITE "${destdir}${list}" "${entries}")

# Recorded in install_manifest.txt as the files the install rules copy are: without DESTDIR.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${launchers} "${list}")

# With administrator rights the uninstall command acts only on an installation that nobody else can change:
# the product folder and the uninstaller's bundle must not be writable by group or others, whatever umask
# the build or the install ran with.
execute_process(COMMAND chmod go-w "${destdir}${product}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND chmod -R go-w "${destdir}${product}/Uninstall.app" COMMAND_ERROR_IS_FATAL ANY)
