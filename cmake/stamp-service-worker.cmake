# Writes the page's service worker (OUT) from its source (IN) with the digest of the build's
# files (FILES, a list) as the build's name, so that a changed file makes a new worker.
# Usage: cmake -DIN=... -DOUT=... -DFILES=a;b;... -P stamp-service-worker.cmake
set(digests "")
foreach(file IN LISTS FILES)
  file(SHA256 "${file}" digest)
  string(APPEND digests "${digest}\n")
endforeach()
string(SHA256 build "${digests}")
string(SUBSTRING "${build}" 0 16 build)
file(READ "${IN}" worker)
string(REPLACE "@BUILD@" "${build}" worker "${worker}")
file(WRITE "${OUT}" "${worker}")
