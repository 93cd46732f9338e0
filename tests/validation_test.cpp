#include "lib/validation.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "support/transcript.hpp"

// Each line of the table: the five answers (IPv4, IPv6, host name, address, digits), a blank,
// then the text as typed ("<NULL>" for none).
TEST(Validation, AcceptsAndRefusesAsTheWebToolsExpect) {
    std::istringstream cases(test_data("validation/cases.txt"));
    for (std::string line; std::getline(cases, line);) {
        std::string text = line.substr(6);
        const char* given = text == "<NULL>" ? nullptr : text.c_str();
        std::string answers;
        for (auto* check :
             {validate_ipv4, validate_ipv6, validate_hostname, validate_address, validate_digits}) {
            answers += check(given) ? '1' : '0';
        }
        EXPECT_EQ(answers, line.substr(0, 5)) << text;
    }
}
