#include "platform/linux/reporting_dsn.h"

#include <gtest/gtest.h>

namespace tovalo {
namespace {

constexpr const char* kKey = "0123456789abcdef0123456789abcdef";

TEST(ReportingDsnTest, ParsesWellFormedDsnsAndDerivesTheEnvelopeEndpoint) {
    struct Case {
        std::string text;
        ReportingDsn parts;
        std::string endpoint;
    };
    const Case cases[] = {
        {std::string("https://") + kKey + "@o1.ingest.tovalo.app/4508123",
         {"https", kKey, "o1.ingest.tovalo.app", "4508123"},
         "https://o1.ingest.tovalo.app/api/4508123/envelope/"},
        {std::string("http://") + kKey + "@127.0.0.1:8123/42",
         {"http", kKey, "127.0.0.1:8123", "42"},
         "http://127.0.0.1:8123/api/42/envelope/"},
        {std::string("https://") + kKey + "@localhost/0",
         {"https", kKey, "localhost", "0"},
         "https://localhost/api/0/envelope/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<ReportingDsn> dsn = ReportingDsn::parse(c.text);
        ASSERT_TRUE(dsn.has_value());
        EXPECT_EQ(*dsn, c.parts);
        EXPECT_EQ(dsn->envelopeEndpoint(), c.endpoint);
    }
}

TEST(ReportingDsnTest, RejectsEverythingElse) {
    const std::string key = kKey;
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"no scheme", key + "@host.tovalo.app/1"},
        {"other scheme", "ftp://" + key + "@host.tovalo.app/1"},
        {"upper-case scheme", "HTTPS://" + key + "@host.tovalo.app/1"},
        {"no key", "https://host.tovalo.app/1"},
        {"short key", "https://" + key.substr(1) + "@host.tovalo.app/1"},
        {"long key", "https://" + key + "0@host.tovalo.app/1"},
        {"upper-case key", "https://0123456789ABCDEF0123456789abcdef@host.tovalo.app/1"},
        {"non-hex key", "https://0123456789abcdeg0123456789abcdef@host.tovalo.app/1"},
        {"secret key", "https://" + key + ":" + key + "@host.tovalo.app/1"},
        {"no host", "https://" + key + "@/1"},
        {"empty label", "https://" + key + "@host..tovalo.app/1"},
        {"leading hyphen", "https://" + key + "@-host.tovalo.app/1"},
        {"space in host", "https://" + key + "@ho st.tovalo.app/1"},
        {"port zero", "https://" + key + "@host.tovalo.app:0/1"},
        {"port too large", "https://" + key + "@host.tovalo.app:65536/1"},
        {"empty port", "https://" + key + "@host.tovalo.app:/1"},
        {"no project", "https://" + key + "@host.tovalo.app"},
        {"empty project", "https://" + key + "@host.tovalo.app/"},
        {"non-numeric project", "https://" + key + "@host.tovalo.app/abc"},
        {"negative project", "https://" + key + "@host.tovalo.app/-1"},
        {"trailing slash", "https://" + key + "@host.tovalo.app/1/"},
        {"path prefix", "https://" + key + "@host.tovalo.app/prefix/1"},
        {"query", "https://" + key + "@host.tovalo.app/1?x=1"},
        {"surrounding space", " https://" + key + "@host.tovalo.app/1"},
        {"embedded NUL", "https://" + key + "@host.tovalo.app/1" + std::string(1, '\0')},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ReportingDsn::parse(c.text).has_value()) << c.name;
    }
}

}  // namespace
}  // namespace tovalo
