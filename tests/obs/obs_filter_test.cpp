// The OBS filter in libobs: its output against dsphost's full-resolution path,
// its properties against the port table, its presets, and its settings through
// a save and a load of the source (what a scene collection holds).
#include <stdlib.h>

#include <cmath>
#include <string>

#include "ports/builtin_presets.h"
#include "ports/port_table.h"
#include "tests/obs/obs_host.h"

namespace {

using namespace ports;

// The filter's properties with the settings given, its own defaults when null.
struct Properties {
    obs_source_t* filter;
    obs_properties_t* props;
    explicit Properties(obs_source_t* f) : filter(f), props(obs_source_properties(f)) {}
    ~Properties() { obs_properties_destroy(props); }
};

// Chooses a list entry as the properties dialog does: the setting, the
// property's modified callback, then the filter's update.
void choosePreset(obs_source_t* filter, const char* name) {
    Properties p(filter);
    obs_property_t* list = obs_properties_get(p.props, "preset");
    ASSERT_NE(list, nullptr);
    long long index = -2;
    for (size_t i = 0; i < obs_property_list_item_count(list); ++i)
        if (strcmp(obs_property_list_item_name(list, i), name) == 0)
            index = obs_property_list_item_int(list, i);
    ASSERT_GE(index, 0) << name;
    obs_data_t* settings = obs_source_get_settings(filter);
    obs_data_set_int(settings, "preset", index);
    EXPECT_TRUE(obs_property_modified(list, settings));
    obs_source_update(filter, settings);
    obs_data_release(settings);
}

struct IdentityCase {
    const char* preset;  // null: the defaults (classic enhancer)
    const char* dsphostArgs;
    bool multibandStages, outputStage;
};

TEST(ObsFilter, OutputEqualsDsphostFullResolutionAfterTheReportedDelay) {
    const IdentityCase cases[] = {
        {nullptr, "", false, false},
        {"Streaming -14", "--preset 'Streaming -14'", true, true},
    };
    std::vector<float> in[2];
    material(in, 48000 * 3, 48000);
    const std::string input = workDir + "/identity-in.wav";
    ASSERT_TRUE(writeFloatWav(input, in, 48000));
    for (const IdentityCase& c : cases) {
        const std::string output = workDir + "/identity-out.wav";
        const std::string command = std::string(getenv("REDOZER_DSPHOST")) +
                                    " --quiet --bits float --delay remove " + c.dsphostArgs + " '" +
                                    input + "' '" + output + "'";
        ASSERT_EQ(system(command.c_str()), 0) << command;
        std::vector<float> expected[2];
        ASSERT_TRUE(readWav(output, expected));

        Feed feed(2);
        obs_source_t* filter = addFilter(feed.source, nullptr);
        if (c.preset != nullptr) choosePreset(filter, c.preset);
        feed.pushAll(in, 2, 48000);
        const int delay = expectedDelay(c.multibandStages, c.outputStage);
        const size_t got = feed.capture.planes[0].size();
        ASSERT_GT(got, static_cast<size_t>(delay + 48000));
        // dsphost --delay remove holds the output aligned with the input.
        double worst = 0.0;
        for (int ch = 0; ch < 2; ++ch)
            for (size_t i = static_cast<size_t>(delay); i < got; ++i)
                worst = std::max(worst, std::fabs(static_cast<double>(feed.capture.planes[ch][i]) -
                                                  expected[ch][i - static_cast<size_t>(delay)]));
        EXPECT_LE(worst, 1e-4) << (c.preset ? c.preset : "defaults");
        printf("%s: largest difference from dsphost %.3g after %d frames\n",
               c.preset ? c.preset : "defaults", worst, delay);
        obs_source_filter_remove(feed.source, filter);
        obs_source_release(filter);
    }
}

}  // namespace
