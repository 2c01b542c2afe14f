// The bundle's presets as an LV2 host sees them (lilv): both plug-ins list
// the nine Enhancer and ten multiband presets, and applying one sets the
// ports to what applying it on its page sets in the settings block.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dsp/multiband_strings.h"
#include "pages/enhancer_page.h"
#include "ports/port_table.h"
#include "settings/multiband_presets.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

using namespace ports;

namespace {

std::vector<std::string> uris;
LV2_URID mapUri(LV2_URID_Map_Handle, const char* uri) {
    for (size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.push_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

using PortValues = std::map<std::string, float>;

void collect(const char* symbol, void* data, const void* value, uint32_t size, uint32_t) {
    if (size == sizeof(float)) (*static_cast<PortValues*>(data))[symbol] = *static_cast<const float*>(value);
}

int controlIndex(const std::string& symbol) {
    for (int k = 0; k < controlCount; ++k)
        if (symbol == controls[k].symbol) return k;
    return -1;
}

std::string trimmed(const char* text) {
    std::string s = text;
    while (!s.empty() && (s.front() == ' ' || s.front() == '[')) s.erase(s.begin());
    while (!s.empty() && (s.back() == ' ' || s.back() == ']')) s.pop_back();
    return s;
}

// What the page leaves in the settings block for a preset of that label.
bool pageResult(const std::string& label, int32_t codes[controlCount], std::vector<int>& fields) {
    settings_set_defaults();
    settings.enhance = 2;
    memset(&settings.strings, 0, sizeof settings.strings);
    strcpy(settings.strings.enh_multi1, default_enh_multi1);
    strcpy(settings.strings.enh_multi2, default_enh_multi2);
    strcpy(settings.strings.enh_limiter, default_enh_limiter);
    defaultCodes(codes);
    if (label.rfind("Enhancer: ", 0) == 0) {
        for (int i = 0; i < builtinEqPresetCount; ++i) {
            if (trimmed(builtin_eq_presets[i] + eqPresetNameOffset) != label.substr(10)) continue;
            apply_eq_preset_record(builtin_eq_presets[i]);
            clamp_eq_frequency_settings();
            codes[cEnhance] = settings.enhance;
            codes[cEqEnable] = settings.eq_enable;
            codes[cStereoWidth] = settings.stereo_width;
            codes[cHpCutoff] = settings.hpcutoff;
            codes[cAmpMax] = settings.amp_max;
            codes[cAmpUp] = settings.amp_up;
            codes[cAmpDown] = settings.amp_dwn;
            codes[cThreshold] = settings.threshold;
            for (int b = 0; b < 3; ++b) {
                codes[cEqGain1 + b] = settings.eq_bands[b].gain;
                codes[cEqFreq1 + b] = settings.eq_bands[b].frequency;
            }
            fields = {cEnhance, cEqEnable, cStereoWidth, cHpCutoff, cAmpMax, cAmpUp, cAmpDown,
                      cThreshold, cEqGain1, cEqGain2, cEqGain3, cEqFreq1, cEqFreq2, cEqFreq3};
            return true;
        }
        return false;
    }
    if (label.rfind("Output: ", 0) == 0) {
        for (const OutputStagePreset& o : output_stage_presets) {
            if (label.substr(8) != o.name) continue;
            codes[cEnhance] = 2;
            codes[cLoudnessTarget] = 1;
            codes[cTargetLufs] = o.targetLufs;
            codes[cTpLimit] = 1;
            codes[cTpCeiling] = o.tpCeiling;
            codes[cBandHold] = o.bandHold;
            codes[cLevelMode] = o.levelMode;
            codes[cTpMode] = o.tpMode;
            char multi1[50] = {}, multi2[90] = {}, limiter[60] = {};
            snprintf(multi1, sizeof multi1, "%s", o.multi1);
            snprintf(multi2, sizeof multi2, "%s", o.multi2);
            snprintf(limiter, sizeof limiter, "%s", o.limiter);
            codesFromStrings(multi1, multi2, limiter, codes);
            fields = {cEnhance, cLoudnessTarget, cTargetLufs, cTpLimit, cTpCeiling, cBandHold,
                      cLevelMode, cTpMode};
            for (int k = cSplit; k <= cLimHold; ++k)
                if (k != cSolo) fields.push_back(k);
            return true;
        }
        return false;
    }
    if (label.rfind("Multiband: ", 0) != 0) return false;
    const std::string name = label.substr(11);
    if (name != "Standard") {
        int number = -1;
        for (int i = 0; i < builtinMultibandPresetCount; ++i)
            if (trimmed(builtin_multiband_presets[i].listText) == name) number = firstBuiltinMultibandPreset + i;
        if (number < 0) return false;
        loadMultibandPreset(number);
    }
    codesFromStrings(settings.strings.enh_multi1, settings.strings.enh_multi2,
                     settings.strings.enh_limiter, codes);
    fields.clear();
    for (int k = cSplit; k <= cLimHold; ++k)
        if (k != cSolo) fields.push_back(k);
    return true;
}

}  // namespace

TEST(Presets, ApplyingOneSetsThePortsAsThePageSetsTheSettings) {
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LV2_URID_Map map = {nullptr, mapUri};
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNode* labelPredicate = lilv_new_uri(world, "http://www.w3.org/2000/01/rdf-schema#label");
    for (const char* uri : {stereoUri, monoUri}) {
        LilvNode* node = lilv_new_uri(world, uri);
        const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
        lilv_node_free(node);
        ASSERT_NE(plugin, nullptr) << uri << " not found: is LV2_PATH set?";
        LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
        int enhancer = 0, multiband = 0, output = 0;
        LILV_FOREACH (nodes, i, presets) {
            const LilvNode* preset = lilv_nodes_get(presets, i);
            lilv_world_load_resource(world, preset);
            LilvNodes* labels = lilv_world_find_nodes(world, preset, labelPredicate, nullptr);
            ASSERT_NE(labels, nullptr);
            const std::string label = lilv_node_as_string(lilv_nodes_get_first(labels));
            lilv_nodes_free(labels);
            SCOPED_TRACE(std::string(uri) + " " + label);

            LilvState* state = lilv_state_new_from_world(world, &map, preset);
            ASSERT_NE(state, nullptr);
            PortValues values;
            lilv_state_emit_port_values(state, collect, &values);
            lilv_state_free(state);

            int32_t expected[controlCount];
            std::vector<int> fields;
            ASSERT_TRUE(pageResult(label, expected, fields)) << "no page preset of this name";
            (label[0] == 'E' ? enhancer : label[0] == 'O' ? output : multiband) += 1;
            EXPECT_EQ(values.size(), fields.size());
            for (int k : fields) {
                auto v = values.find(controls[k].symbol);
                ASSERT_NE(v, values.end()) << controls[k].symbol << " not set";
                EXPECT_EQ(codeOfValue(controls[k], v->second), expected[k]) << controls[k].symbol;
            }
            for (auto& [symbol, value] : values) EXPECT_GE(controlIndex(symbol), 0) << symbol;
        }
        lilv_nodes_free(presets);
        EXPECT_EQ(enhancer, 9);
        EXPECT_EQ(multiband, 10);
        EXPECT_EQ(output, outputStagePresetCount);
    }
    lilv_node_free(presetClass);
    lilv_node_free(labelPredicate);
    lilv_world_free(world);
}
