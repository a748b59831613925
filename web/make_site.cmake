# Finishes the site in SITE after the build has put its files there: the
# version (the first 16 hex digits of a SHA-256 over every file's name and
# contents, the pages' templates among them) goes into the page, the
# manifest and the service worker, which lists every file to keep with the
# SHA-256 of its contents.
#
#   cmake -DSITE=dir -DTEMPLATES=web -P web/make_site.cmake
#
# The templates are index.html, manifest.webmanifest and sw.js in TEMPLATES.
cmake_minimum_required(VERSION 3.25)

set(templates index.html manifest.webmanifest sw.js)
file(GLOB_RECURSE files RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM files ${templates})
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
