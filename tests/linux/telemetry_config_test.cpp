#include "platform/linux/telemetry_config.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>

#include "platform/linux/reporting_dsn.h"

namespace tovalo {

void PrintTo(const TelemetryConfig& config, std::ostream* out) {
    *out << "{dsn=" << config.errorReportingDsn << ", token=" << config.analyticsToken
         << ", server=" << config.analyticsServerUrl
         << ", endpoint=" << config.errorReportingEndpointOverride.value_or("(none)") << "}";
}

namespace {

using Environment = std::map<std::string, std::string>;

constexpr const char* kFileDsn = "https://00000000000000000000000000000001@file.tovalo.app/11";
constexpr const char* kEnvDsn = "http://00000000000000000000000000000002@127.0.0.1:9000/22";
constexpr const char* kFileToken = "11111111111111111111111111111111";
constexpr const char* kEnvToken = "2222222222222222222222222222222a";

TelemetryConfig::EnvironmentLookup lookupIn(Environment environment) {
    return [environment = std::move(environment)](const char* name) {
        auto it = environment.find(name);
        return it == environment.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
}

class TelemetryConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "telemetry_config_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void writeFile(const std::string& text) {
        std::ofstream(dir_ / std::string(TelemetryConfig::kFileName), std::ios::binary) << text;
    }

    std::filesystem::path dir_;
};

TEST_F(TelemetryConfigTest, BuiltInValuesHaveTheDocumentedShapes) {
    const TelemetryConfig config = TelemetryConfig::builtIn();
    EXPECT_EQ(config.errorReportingDsn.size(), 95u);
    EXPECT_TRUE(config.errorReportingDsn.starts_with("https://"));
    const std::optional<ReportingDsn> dsn = ReportingDsn::parse(config.errorReportingDsn);
    ASSERT_TRUE(dsn.has_value());
    EXPECT_EQ(config.errorReportingEndpoint(), dsn->envelopeEndpoint());
    EXPECT_TRUE(TelemetryConfig::isAnalyticsToken(config.analyticsToken));
    EXPECT_TRUE(config.analyticsServerUrl.starts_with("https://"));
    EXPECT_FALSE(config.errorReportingEndpointOverride.has_value());
}

TEST_F(TelemetryConfigTest, LayersFileThenEnvironmentOverTheBuiltInValues) {
    const TelemetryConfig builtIn = TelemetryConfig::builtIn();
    struct Case {
        const char* name;
        std::optional<std::string> file;
        Environment environment;
        std::function<void(TelemetryConfig&)> expectedChanges;
    };
    const Case cases[] = {
        {"nothing configured", std::nullopt, {}, [](TelemetryConfig&) {}},
        {"file sets every value",
         std::string(R"({"errorReportingDsn": ")") + kFileDsn + R"(",
            "errorReportingEndpoint": "http://127.0.0.1:8080/api/11/envelope/",
            "analyticsToken": ")" +
             kFileToken + R"(",
            "analyticsServerUrl": "https://stats.example.test/"})",
         {},
         [](TelemetryConfig& c) {
             c.errorReportingDsn = kFileDsn;
             c.errorReportingEndpointOverride = "http://127.0.0.1:8080/api/11/envelope/";
             c.analyticsToken = kFileToken;
             c.analyticsServerUrl = "https://stats.example.test";
         }},
        {"environment wins over the file",
         std::string(R"({"errorReportingDsn": ")") + kFileDsn + R"(", "analyticsToken": ")" +
             kFileToken + R"("})",
         {{"TOVALO_ERROR_REPORTING_DSN", kEnvDsn},
          {"TOVALO_ERROR_REPORTING_ENDPOINT", "https://relay.example.test/in"},
          {"TOVALO_ANALYTICS_TOKEN", kEnvToken},
          {"TOVALO_ANALYTICS_SERVER_URL", "http://127.0.0.1:9001"}},
         [](TelemetryConfig& c) {
             c.errorReportingDsn = kEnvDsn;
             c.errorReportingEndpointOverride = "https://relay.example.test/in";
             c.analyticsToken = kEnvToken;
             c.analyticsServerUrl = "http://127.0.0.1:9001";
         }},
        {"invalid file values keep the built-in ones; unknown keys and other types are ignored",
         R"({"errorReportingDsn": "https://short@host/1",
            "errorReportingEndpoint": "ftp://files.example.test/",
            "analyticsToken": "2222222222222222222222222222222A",
            "analyticsServerUrl": 42,
            "unknown": "https://x.example.test"})",
         {},
         [](TelemetryConfig&) {}},
        {"invalid environment values keep the file's",
         std::string(R"({"errorReportingDsn": ")") + kFileDsn + R"(", "analyticsToken": ")" +
             kFileToken + R"(", "analyticsServerUrl": "https://stats.example.test"})",
         {{"TOVALO_ERROR_REPORTING_DSN", "not a dsn"},
          {"TOVALO_ERROR_REPORTING_ENDPOINT", "https://"},
          {"TOVALO_ANALYTICS_TOKEN", "2222"},
          {"TOVALO_ANALYTICS_SERVER_URL", "stats.example.test"}},
         [](TelemetryConfig& c) {
             c.errorReportingDsn = kFileDsn;
             c.analyticsToken = kFileToken;
             c.analyticsServerUrl = "https://stats.example.test";
         }},
        {"surrounding white space is trimmed",
         std::nullopt,
         {{"TOVALO_ANALYTICS_TOKEN", std::string(" ") + kEnvToken + "\n"}},
         [](TelemetryConfig& c) { c.analyticsToken = kEnvToken; }},
        {"corrupt file is ignored, the environment still applies",
         std::string(R"({"analyticsToken": ")") + kFileToken + R"(",)",
         {{"TOVALO_ANALYTICS_TOKEN", kEnvToken}},
         [](TelemetryConfig& c) { c.analyticsToken = kEnvToken; }},
        {"file that is not an object is ignored",
         std::string("[\"") + kFileToken + "\"]",
         {},
         [](TelemetryConfig&) {}},
        {"binary garbage is ignored", std::string("\xff\xfe\0{", 4), {}, [](TelemetryConfig&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_ / std::string(TelemetryConfig::kFileName));
        if (c.file) {
            writeFile(*c.file);
        }
        TelemetryConfig expected = builtIn;
        c.expectedChanges(expected);
        EXPECT_EQ(TelemetryConfig::load(dir_.string(), lookupIn(c.environment)), expected);
    }
}

TEST_F(TelemetryConfigTest, UnreadableOrMissingFileLeavesTheBuiltInValues) {
    // A folder where the file should be cannot be read as one.
    std::filesystem::create_directory(dir_ / std::string(TelemetryConfig::kFileName));
    EXPECT_EQ(TelemetryConfig::load(dir_.string(), lookupIn({})), TelemetryConfig::builtIn());
    EXPECT_EQ(TelemetryConfig::load((dir_ / "missing").string(), lookupIn({})),
              TelemetryConfig::builtIn());
    EXPECT_EQ(TelemetryConfig::load("", nullptr), TelemetryConfig::builtIn());
}

TEST_F(TelemetryConfigTest, EndpointOverrideReplacesTheOneDerivedFromTheDsn) {
    const TelemetryConfig derived =
        TelemetryConfig::load("", lookupIn({{"TOVALO_ERROR_REPORTING_DSN", kEnvDsn}}));
    EXPECT_EQ(derived.errorReportingEndpoint(), "http://127.0.0.1:9000/api/22/envelope/");

    const TelemetryConfig overridden = TelemetryConfig::load(
        "", lookupIn({{"TOVALO_ERROR_REPORTING_DSN", kEnvDsn},
                      {"TOVALO_ERROR_REPORTING_ENDPOINT", "http://127.0.0.1:1/x"}}));
    EXPECT_EQ(overridden.errorReportingEndpoint(), "http://127.0.0.1:1/x");
}

}  // namespace
}  // namespace tovalo
