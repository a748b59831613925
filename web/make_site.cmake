# Finishes the site in SITE after the build has put its files there: the
# version (the first 16 hex digits of a SHA-256 over every file's name and
# contents, the pages' templates among them) goes into the page, the
# manifest and the service worker, which lists every file to keep with the
# SHA-256 of its contents.
#
#   cmake -DSITE=dir -DTEMPLATES=web -P web/make_site.cmake
#
# The templates are index.html, manifest.webmanifest and sw.js in TEMPLATES.
#
# With -DBOARD=URL it also writes the site's one setting, hall-of-fame.json
# ({"board": ""} without). That file is no part of the version and the
# service worker never keeps it: a site is pointed at a board by editing it.
cmake_minimum_required(VERSION 3.25)

if(DEFINED BOARD)
  if(BOARD MATCHES "[\"\\\n]")
    message(FATAL_ERROR "BOARD_URL holds a quote, a backslash or a line break")
  endif()
  file(WRITE ${SITE}/hall-of-fame.json "{\"board\": \"${BOARD}\"}\n")
endif()

set(templates index.html manifest.webmanifest sw.js)
file(GLOB_RECURSE files RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM files ${templates} hall-of-fame.json)
list(SORT files)

set(digest "")
foreach(name IN LISTS templates)
  file(SHA256 ${TEMPLATES}/${name} hash)
  string(APPEND digest "${name} ${hash}\n")
endforeach()
foreach(name IN LISTS files)
  file(SHA256 ${SITE}/${name} hash)
  string(APPEND digest "${name} ${hash}\n")
endforeach()
string(SHA256 VN_VERSION "${digest}")
string(SUBSTRING ${VN_VERSION} 0 16 VN_VERSION)

# The page and the manifest first: the worker lists their hashes too.
set(VN_FILES "")
foreach(name IN ITEMS index.html manifest.webmanifest LISTS files)
  if(name STREQUAL "index.html" OR name STREQUAL "manifest.webmanifest")
    configure_file(${TEMPLATES}/${name} ${SITE}/${name} @ONLY)
  endif()
  file(SHA256 ${SITE}/${name} hash)
  string(APPEND VN_FILES "\n  ['${name}', '${hash}'],")
endforeach()
configure_file(${TEMPLATES}/sw.js ${SITE}/sw.js @ONLY)
message(STATUS "site version ${VN_VERSION}")
