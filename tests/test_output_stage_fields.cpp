// The Misc page's output stage fields: shown text and typed text.
#include <gtest/gtest.h>

#include "pages/output_stage_fields.h"

TEST(OutputStageFields, ShowsTenthsBelowZero) {
    const std::pair<int, const char*> cases[] = {{160, "-16.0"}, {235, "-23.5"}, {5, "-0.5"}, {0, "0.0"}, {400, "-40.0"}};
    for (const auto& [tenths, text] : cases) {
        char out[16];
        format_tenths_below_zero(tenths, out, sizeof out);
        EXPECT_STREQ(out, text);
    }
}

TEST(OutputStageFields, ReadsWhatIsTyped) {
    struct Case {
        const char* text;
        bool ok;
        int tenths;
    };
    const Case cases[] = {{"-16", true, 160},   {"-23.5", true, 235}, {"14", true, 140},   {" -9.96 ", true, 100},
                          {"-4.9", false, 0},   {"-40.1", false, 0},  {"", false, 0},      {"abc", false, 0},
                          {"-16dB", false, 0},  {"--16", false, 0},   {"+16", false, 0}};
    for (const Case& c : cases) {
        int tenths = -1;
        EXPECT_EQ(parse_tenths_below_zero(c.text, 50, 400, &tenths), c.ok) << c.text;
        EXPECT_EQ(tenths, c.ok ? c.tenths : -1) << c.text;
    }
}
