#include <gtest/gtest.h>

#include "platform/linux/openssl_hasher.h"
#include "telemetry/device_id_provider.h"

namespace tovalo {
namespace {

// The published identifier of the text "abc", through the real SHA-256.
TEST(DeviceIdVectorTest, DeriveOfAbcWithTheRealHasher) {
    const OpenSslHasher hasher;
    EXPECT_EQ(DeviceIDProvider::derive("abc", hasher), "ungWv48Bz-pBQUDeXa4iIw");
}

}  // namespace
}  // namespace tovalo
