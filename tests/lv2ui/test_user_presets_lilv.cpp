// A preset saved from the UI's Output page is one a host lists: lilv, pointed at a private
// HOME's .lv2 folder and the build's bundle, finds it for the plug-in's URI
// and loads every control's value from it.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "lv2ui/ui_model.h"
#include "lv2ui/user_presets.h"

using namespace lv2ui;
using namespace ports;

namespace {
const char* lv2Dir = "";

struct Found {
    int values;
    int wrong;
};

void countValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
    (void)type;
    Found& f = *static_cast<Found*>(data);
    if (size != sizeof(float)) return;
    for (int k = 0; k < controlCount; ++k) {
        if (strcmp(symbol, controls[k].symbol) != 0) continue;
        ++f.values;
        const int code = codeOfValue(controls[k], *static_cast<const float*>(value));
        if (code != (k % 2 ? controls[k].codeMax : controls[k].codeMin)) ++f.wrong;
    }
}
}  // namespace

TEST(UserPresetsHost, LilvListsAndLoadsASavedPreset) {
    char dir[] = "/tmp/redozer-lilv-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string home = dir;
    // Saved as the Output page's "Save preset" saves it.
    UiState s;
    initialState(s, 2);
    loadUserPresets(s, home.c_str());
    for (int k = 0; k < controlCount; ++k) s.codes[k] = k % 2 ? controls[k].codeMax : controls[k].codeMin;
    snprintf(s.presetName, sizeof s.presetName, "Host check");
    int save = -1;
    for (int i = 0; i < uiLayout().count; ++i)
        if (uiLayout().widgets[i].kind == Kind::Action && uiLayout().widgets[i].onCode == 0) save = i;
    ASSERT_GE(save, 0);
    Writes w{};
    ASSERT_TRUE(userPanelPress(s, save, 0, w));
    ASSERT_EQ(s.userPresets.count, 1) << s.status;

    setenv("LV2_PATH", (home + "/.lv2:" + lv2Dir + ":/usr/lib/lv2").c_str(), 1);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, stereoUri);
    LilvNode* presetClass = lilv_new_uri(world, "http://lv2plug.in/ns/ext/presets#Preset");
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    ASSERT_NE(plugin, nullptr);
    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
    int ours = 0;
    Found found{0, 0};
    LILV_FOREACH (nodes, i, presets) {
        const LilvNode* p = lilv_nodes_get(presets, i);
        if (!strstr(lilv_node_as_uri(p), "redozer-Host")) continue;
        ++ours;
        lilv_world_load_resource(world, p);
        LV2_URID_Map map{nullptr, [](LV2_URID_Map_Handle, const char* u) {
                             static std::string seen[8];
                             for (int n = 0; n < 8; ++n) {
                                 if (seen[n] == u) return static_cast<LV2_URID>(n + 1);
                                 if (seen[n].empty()) { seen[n] = u; return static_cast<LV2_URID>(n + 1); }
                             }
                             return static_cast<LV2_URID>(0);
                         }};
        LilvState* state = lilv_state_new_from_world(world, &map, p);
        ASSERT_NE(state, nullptr);
        lilv_state_emit_port_values(state, countValue, &found);
        lilv_state_free(state);
    }
    EXPECT_EQ(ours, 1);
    EXPECT_EQ(found.values, controlCount);
    EXPECT_EQ(found.wrong, 0);
    lilv_nodes_free(presets);
    lilv_node_free(presetClass);
    lilv_node_free(uri);
    lilv_world_free(world);
    std::system(("rm -rf '" + home + "'").c_str());
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) lv2Dir = argv[1];
    return RUN_ALL_TESTS();
}
