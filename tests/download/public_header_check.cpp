// The download engine's public headers show the project's own types only:
// including them must not bring in libcurl or libsodium, so this file fails
// to build the moment one of them does.
#include "download/package_download.h"
#include "download/release_signature.h"
#include "download/resume_store.h"
#include "download/segment_downloader.h"
#include "download/stream_digest.h"

#ifdef CURLINC_CURL_H
#error "a public header of download/ includes <curl/curl.h>"
#endif
#ifdef sodium_H
#error "a public header of download/ includes <sodium.h>"
#endif
