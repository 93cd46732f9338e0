#include "lib/validation.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

TEST(Validation, AcceptsAndRefusesAsTheWebToolsExpect) {
    struct Case {
        std::optional<std::string> text;
        bool ipv4, ipv6, hostname, address, digits;
    };
    const Case cases[] = {
        {std::nullopt, false, false, false, false, false},
        {"", false, false, true, true, true},
        {"192.168.0.1", true, false, true, true, false},
        {"192.168.0", false, false, true, true, false},
        {"1.2.3.4 ", false, false, false, false, false},
        {"fe80::1", false, true, false, true, false},
        {"::ffff:10.0.0.1", false, true, false, true, false},
        {"a", false, false, true, true, false},
        {"a..b.", false, false, true, true, false},
        {std::string(70, 'a') + ".example", false, false, true, true, false},
        {std::string(255, 'a'), false, false, true, true, false},
        {std::string(256, 'a'), false, false, false, false, false},
        {std::string(300, '1'), false, false, false, false, true},
        {"-a", false, false, false, false, false},
        {".a", false, false, false, false, false},
        {"a-", false, false, false, false, false},
        {"a-b", false, false, true, true, false},
        {"a_b", false, false, false, false, false},
        {"a b", false, false, false, false, false},
        {"h\xc3\xa9.example", false, false, false, false, false},
        {"$(reboot)", false, false, false, false, false},
        {"a;b", false, false, false, false, false},
        {"007", false, false, true, true, true},
        {"12a4", false, false, true, true, false},
        {"+12", false, false, false, false, false},
        {"-12", false, false, false, false, false},
    };
    for (const Case& c : cases) {
        const char* text = c.text ? c.text->c_str() : nullptr;
        SCOPED_TRACE(c.text.value_or("<NULL>"));
        EXPECT_EQ(validate_ipv4(text), c.ipv4);
        EXPECT_EQ(validate_ipv6(text), c.ipv6);
        EXPECT_EQ(validate_hostname(text), c.hostname);
        EXPECT_EQ(validate_address(text), c.address);
        EXPECT_EQ(validate_digits(text), c.digits);
    }
}
