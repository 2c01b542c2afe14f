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
    int multibandStages;  // the band split and the engine's limiter, each while on
    bool outputStage;
};

TEST(ObsFilter, OutputEqualsDsphostFullResolutionAfterTheReportedDelay) {
    const IdentityCase cases[] = {
        {nullptr, "", 0, false},
        {"Streaming -14", "--preset 'Streaming -14'", 1, true},
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

// Every control of the port table is a property in its page's group with the
// table's range and default; the presets are listed by name.
TEST(ObsFilter, PropertiesComeFromThePortTable) {
    Feed feed(2);
    obs_source_t* filter = addFilter(feed.source, nullptr);
    Properties p(filter);
    obs_data_t* defaults = obs_get_source_defaults(filterId);
    const char* const groups[] = {"page_enhancer1", "page_enhancer2", "page_limiter",
                                  "page_output_stage"};
    int found = 0;
    for (const char* g : groups) {
        obs_property_t* group = obs_properties_get(p.props, g);
        ASSERT_NE(group, nullptr) << g;
        obs_properties_t* inner = obs_property_group_content(group);
        for (int k = 0; k < controlCount; ++k) {
            const ControlInfo& c = controls[k];
            obs_property_t* q = obs_properties_get(inner, c.symbol);
            if (q == nullptr) continue;
            EXPECT_NE(c.effect, Effect::Meters) << c.symbol << ": the read-outs' own controls stay out";
            ++found;
            const double lo = minimumValue(c), hi = maximumValue(c), def = defaultValue(c);
            switch (obs_property_get_type(q)) {
            case OBS_PROPERTY_BOOL:
                EXPECT_TRUE(c.flags & flagToggle) << c.symbol;
                EXPECT_EQ(obs_data_get_default_bool(defaults, c.symbol), def != 0.0) << c.symbol;
                break;
            case OBS_PROPERTY_LIST:
                EXPECT_EQ(static_cast<int>(obs_property_list_item_count(q)), c.pointCount) << c.symbol;
                EXPECT_EQ(obs_data_get_default_int(defaults, c.symbol), std::llround(def)) << c.symbol;
                break;
            case OBS_PROPERTY_INT:
                EXPECT_EQ(obs_property_int_min(q), lo) << c.symbol;
                EXPECT_EQ(obs_property_int_max(q), hi) << c.symbol;
                EXPECT_EQ(obs_data_get_default_int(defaults, c.symbol), std::llround(def)) << c.symbol;
                break;
            case OBS_PROPERTY_FLOAT:
                EXPECT_DOUBLE_EQ(obs_property_float_min(q), lo) << c.symbol;
                EXPECT_DOUBLE_EQ(obs_property_float_max(q), hi) << c.symbol;
                EXPECT_DOUBLE_EQ(obs_data_get_default_double(defaults, c.symbol), def) << c.symbol;
                break;
            default: ADD_FAILURE() << c.symbol << " has an unexpected type";
            }
        }
    }
    int settings = 0;
    for (int k = 0; k < controlCount; ++k) settings += controls[k].effect != Effect::Meters ? 1 : 0;
    EXPECT_EQ(found, settings);  // each setting once, in one of the groups
    // As the pages group them.
    const std::pair<const char*, const char*> placed[] = {
        {"page_enhancer1", "amp_max"},          {"page_enhancer1", "eq_freq2"},
        {"page_enhancer2", "band3_attack"},     {"page_enhancer2", "crossover1"},
        {"page_limiter", "limiter_threshold"},  {"page_limiter", "soft_clip"},
        {"page_output_stage", "target_lufs"},   {"page_output_stage", "tp_ceiling"},
    };
    for (const auto& [g, symbol] : placed)
        EXPECT_NE(obs_properties_get(obs_property_group_content(obs_properties_get(p.props, g)),
                                     symbol),
                  nullptr)
            << symbol;
    obs_property_t* list = obs_properties_get(p.props, "preset");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(static_cast<int>(obs_property_list_item_count(list)), builtinPresetCount + 1);
    for (int i = 0; i < builtinPresetCount; ++i) {
        BuiltinPreset b;
        ASSERT_TRUE(builtinPreset(i, b));
        EXPECT_STREQ(obs_property_list_item_name(list, static_cast<size_t>(i) + 1), b.name);
    }
    obs_data_release(defaults);
    obs_source_filter_remove(feed.source, filter);
    obs_source_release(filter);
}

// A preset chosen in the list writes its settings and puts the list back; the
// source saved (as a scene collection holds it) and loaded again keeps every
// value, the preset's and one changed by hand.
TEST(ObsFilter, PresetAndHandSetValuesSurviveASaveAndALoad) {
    obs_source_t* source = obs_source_create("redozer_test_feed", "saved feed", nullptr, nullptr);
    obs_source_t* filter = addFilter(source, nullptr, "saved filter");
    choosePreset(filter, "Streaming -14");
    obs_data_t* settings = obs_source_get_settings(filter);
    EXPECT_DOUBLE_EQ(obs_data_get_double(settings, "target_lufs"), -14.0);
    EXPECT_TRUE(obs_data_get_bool(settings, "tp_limit"));
    EXPECT_EQ(obs_data_get_int(settings, "enhance"), 2);
    EXPECT_EQ(obs_data_get_int(settings, "preset"), -1);
    obs_data_set_double(settings, "band2_threshold", -3.5);
    obs_data_set_int(settings, "limiter_release", 123);
    obs_source_update(filter, settings);
    const std::string before = obs_data_get_json(settings);
    obs_data_release(settings);

    obs_data_t* saved = obs_save_source(source);
    const std::string json = obs_data_get_json(saved);
    obs_data_release(saved);
    obs_source_filter_remove(source, filter);
    obs_source_release(filter);
    obs_source_remove(source);
    obs_source_release(source);

    obs_data_t* data = obs_data_create_from_json(json.c_str());
    obs_source_t* loaded = obs_load_source(data);
    obs_data_release(data);
    ASSERT_NE(loaded, nullptr);
    obs_source_t* again = obs_source_get_filter_by_name(loaded, "saved filter");
    ASSERT_NE(again, nullptr);
    obs_data_t* reloaded = obs_source_get_settings(again);
    EXPECT_EQ(std::string(obs_data_get_json(reloaded)), before);
    EXPECT_DOUBLE_EQ(obs_data_get_double(reloaded, "band2_threshold"), -3.5);
    EXPECT_DOUBLE_EQ(obs_data_get_double(reloaded, "target_lufs"), -14.0);
    obs_data_release(reloaded);
    obs_source_release(again);
    obs_source_remove(loaded);
    obs_source_release(loaded);
}

}  // namespace
