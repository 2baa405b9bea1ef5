// What an MMC ID typed into the settings field turns into. The field shows the previous ID
// again (and sends it) whenever the text does not name an ID the unit can take.
#include <gtest/gtest.h>

#include "ui/mmc_id_text.h"

namespace {

struct TextCase {
    const char* text;
    uint8_t current;
    uint8_t expected;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << '"' << c.text << "\" with current " << int(c.current);
}

class MmcIdText : public testing::TestWithParam<TextCase> {};

TEST_P(MmcIdText, GivesTheIdOrKeepsTheCurrentOne) {
    const TextCase& c = GetParam();
    EXPECT_EQ(c.expected, MmcIdFromText(c.text, c.current)) << "text \"" << c.text << "\"";
}

const TextCase kAccepted[] = {
    {"5", 42, 5},     {"0", 42, 0},      {"9", 42, 9},    {"05", 42, 5},     {"42", 0, 42},
    {"99", 0, 99},    {"000", 42, 0},    {"007", 42, 7},  {"099", 42, 99},   {"100", 42, 100},
    {"126", 42, 126}, {"1234", 42, 123}, {"0051", 42, 5}, {"126x", 42, 126},
};
INSTANTIATE_TEST_SUITE_P(Accepted, MmcIdText, testing::ValuesIn(kAccepted));

const TextCase kRejected[] = {
    {"", 42, 42},     {"127", 42, 42},  {"150", 42, 42}, {"199", 42, 42},  {"200", 42, 42},
    {"999", 42, 42},  {"1a", 42, 42},   {"x", 42, 42},   {"a1", 42, 42},   {" 5", 42, 42},
    {"-1", 42, 42},   {"1-2", 42, 42},  {"+12", 42, 42}, {"12a4", 42, 42}, {"1279", 42, 42},
    {"2000", 42, 42}, {"\xb9", 42, 42}, {"12 ", 42, 42}, {"", 0, 0},       {"127", 126, 126},
};
INSTANTIATE_TEST_SUITE_P(Rejected, MmcIdText, testing::ValuesIn(kRejected));

TEST(MmcIdTextNull, KeepsTheCurrentId) {
    EXPECT_EQ(17, MmcIdFromText(nullptr, 17));
}

} // namespace
