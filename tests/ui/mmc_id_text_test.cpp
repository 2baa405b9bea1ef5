// What an MMC ID typed into the settings field turns into. The current ID is kept (and sent
// again) whenever the text does not name an ID the unit can take.
#include <gtest/gtest.h>
#include "ui/mmc_id_text.h"

TEST(MmcIdText, GivesTheIdOrKeepsTheCurrentOne) {
    const struct {
        const char* text;
        uint8_t current, expected;
    } rows[] = {
        // clang-format off
        // Accepted: one to three digits, leading zeros; only the first three characters are read.
        {"007", 42, 7}, {"100", 42, 100}, {"0051", 42, 5}, {"126x", 42, 126}, {"7", 42, 7},
        // Rejected: above 126, or not one to three digits from the start.
        {"999", 42, 42}, {"a1", 42, 42}, {"1-2", 42, 42}, {"12a4", 42, 42}, {"1279", 42, 42},
        {"\xb9", 42, 42}, {"12 ", 42, 42}, {"", 42, 42}, {"127", 126, 126}, {nullptr, 17, 17}};
    // clang-format on
    for (const auto& row : rows) {
        EXPECT_EQ(int(row.expected), int(MmcIdFromText(row.text, row.current)))
            << (row.text ? row.text : "(null)") << " with current " << int(row.current);
    }
}
