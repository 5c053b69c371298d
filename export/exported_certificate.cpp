#include "export/exported_certificate.h"

#include <cstdio>
#include <ctime>

#include "platform/texts.h"

namespace {

// A certificate that ends this close gets a reminder to renew it.
constexpr long long kReminderSeconds = 30LL * 24 * 60 * 60;

std::string dateText(const platform::CalendarDate& date) {
    char text[64];
    std::snprintf(text, sizeof text, "%d年%d月%d日", date.year, date.month, date.day);
    return text;
}

// One of the tool's texts with dates in place of its `%s`.
std::string withDates(const char* format, const std::string& first,
                      const std::string& second = std::string()) {
    char text[512];
    std::snprintf(text, sizeof text, format, first.c_str(), second.c_str());
    return text;
}

}  // namespace

std::string validityText(const platform::CertificateFacts& facts, long long now) {
    const texts::CertificateTexts& text = texts::certificate();
    const std::string firstDay = dateText(facts.validFrom.localDate);
    const std::string lastDay = dateText(facts.validUntil.localDate);
    if (now < facts.validFrom.secondsSince1970) {
        return withDates(text.notYetValid, firstDay);
    }
    if (now > facts.validUntil.secondsSince1970) {
        return withDates(text.expired, lastDay);
    }
    std::string lines = withDates(text.validity, firstDay, lastDay);
    if (facts.validUntil.secondsSince1970 - now <= kReminderSeconds) {
        lines += withDates(text.expiresSoon, lastDay);
    }
    return lines;
}

void describeExportedCertificate(const platform::CertificateFacts& facts) {
    const texts::CertificateTexts& text = texts::certificate();
    // The names are decoded into UTF-8, as the tool's own texts are, so each line goes out in one
    // encoding: Shift_JIS when Windows output is redirected, not UTF-8 among Shift_JIS.
    platform::print(text.holder, facts.holder.c_str());
    platform::print(text.issuer, facts.issuer.c_str());
    platform::print("%s", validityText(facts, std::time(nullptr)).c_str());
    platform::print("%s", text.personalData);
}
