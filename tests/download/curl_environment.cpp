// libcurl's global state, set up once for the whole test program as the
// updater does at its start.
#include <curl/curl.h>
#include <gtest/gtest.h>

namespace {

class curl_environment : public testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};

testing::Environment* const CURL_ENVIRONMENT = testing::AddGlobalTestEnvironment(new curl_environment);

}  // namespace
