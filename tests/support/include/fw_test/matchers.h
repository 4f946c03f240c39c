// gmock matchers for the suites: EXPECT_THAT(text, HasSubstr("x")) prints the
// text when it fails, where EXPECT_NE(text.find("x"), npos) prints two numbers.
#pragma once

#include <gmock/gmock.h>

#include "fw_test/bytes.h"

namespace fw_test {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// A byte vector equal to the bytes of hex text ("41 01 ab"); a mismatch shows both in hex.
MATCHER_P(HexIs, text, "is " + std::string(text))
{
    const Bytes want = hex(text);
    const Bytes got(arg.begin(), arg.end());
    *result_listener << "which is " << to_hex(got);
    return got == want;
}

}  // namespace fw_test
