#include <gtest/gtest.h>

#include "export/exported_certificate.h"

namespace {

constexpr long long kDay = 24 * 60 * 60;
// Valid from the first second of 1970 to the end of its hundredth day, shown as other local days.
const platform::CertificateFacts kFacts = {"", "", {0, {2026, 1, 2}}, {100 * kDay, {2026, 4, 12}}};
const std::string kPeriodAndReminder =
    "有効期間     = 2026年1月2日から2026年4月12日まで\n"
    "有効期限の2026年4月12日が近づいています。市区町村の窓口で証明書を更新してください。\n";

// The end-to-end cases show a period far from its ends, and an expired certificate.
TEST(ValidityText, RemindsFromThirtyDaysBeforeTheLastSecondAndSaysWhenItIsNotValidYet) {
    EXPECT_EQ(validityText(kFacts, 70 * kDay), kPeriodAndReminder);
    EXPECT_EQ(validityText(kFacts, 100 * kDay), kPeriodAndReminder);
    EXPECT_EQ(validityText(kFacts, -1),
              "この証明書の有効期間は2026年1月2日からで、まだ始まっていません。"
              "パソコンの日付と時刻を確かめてください。\n");
}

}  // namespace
