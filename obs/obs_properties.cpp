// The OBS filter's properties and defaults from the port table and the
// built-in presets.
#include "obs/obs_properties.h"

#include <cmath>
#include <cstdio>

#include "dsp/engine.h"
#include "dsp/output_stage.h"
#include "ports/builtin_presets.h"
#include "ports/port_table.h"

namespace obsfilter {

using ports::ControlInfo;

namespace {

enum class Kind { Toggle, Choice, Integer, Float };

Kind kindOf(const ControlInfo& c) {
    if (c.flags & ports::flagToggle) return Kind::Toggle;
    if (c.flags & ports::flagEnumeration) return Kind::Choice;
    if (c.scale == ports::Scale::Code) return Kind::Integer;
    return Kind::Float;
}

const char* suffixOf(ports::Unit unit) {
    switch (unit) {
    case ports::Unit::None: return nullptr;
    case ports::Unit::Hz: return " Hz";
    case ports::Unit::Ms: return " ms";
    case ports::Unit::Db: return " dB";
    case ports::Unit::Percent: return " %";
    case ports::Unit::Times: return " x";
    case ports::Unit::Ratio: return ":1";
    case ports::Unit::Frames: return " frames";
    case ports::Unit::Lufs: return " LUFS";
    case ports::Unit::Dbtp: return " dBTP";
    }
    return nullptr;
}

const char* const pageKeys[] = {"page_enhancer1", "page_enhancer2", "page_limiter",
                                "page_output_stage"};
const char* const pageNames[] = {"Enhancer 1", "Enhancer 2", "Limiter", "Output stage"};

void addControl(obs_properties_t* props, const ControlInfo& c) {
    obs_property_t* p = nullptr;
    switch (kindOf(c)) {
    case Kind::Toggle: p = obs_properties_add_bool(props, c.symbol, c.name); break;
    case Kind::Choice:
        p = obs_properties_add_list(props, c.symbol, c.name, OBS_COMBO_TYPE_LIST,
                                    OBS_COMBO_FORMAT_INT);
        for (int i = 0; i < c.pointCount; ++i)
            obs_property_list_add_int(p, c.points[i].label,
                                      static_cast<long long>(c.points[i].value));
        break;
    case Kind::Integer:
        p = obs_properties_add_int_slider(props, c.symbol, c.name,
                                          static_cast<int>(ports::minimumValue(c)),
                                          static_cast<int>(ports::maximumValue(c)), 1);
        if (suffixOf(c.unit) != nullptr) obs_property_int_set_suffix(p, suffixOf(c.unit));
        break;
    case Kind::Float: {
        // A linear control moves by one code; a curve's codes are unevenly
        // spaced, so its slider moves finely and the nearest code is taken.
        const double step = c.scale == ports::Scale::Linear ? std::fabs(c.a) : 0.01;
        p = obs_properties_add_float_slider(props, c.symbol, c.name, ports::minimumValue(c),
                                            ports::maximumValue(c), step);
        if (suffixOf(c.unit) != nullptr) obs_property_float_set_suffix(p, suffixOf(c.unit));
        break;
    }
    }
    obs_property_set_long_description(p, c.help);
}

bool presetChosen(obs_properties_t*, obs_property_t*, obs_data_t* settings) {
    const long long index = obs_data_get_int(settings, presetKey);
    if (index < 0) return false;
    applyPreset(settings, static_cast<int>(index));
    obs_data_set_int(settings, presetKey, -1);
    return true;  // the dialog shows the preset's values
}

void addPresetList(obs_properties_t* props) {
    obs_property_t* list = obs_properties_add_list(props, presetKey, "Preset", OBS_COMBO_TYPE_LIST,
                                                   OBS_COMBO_FORMAT_INT);
    obs_property_list_add_int(list, "Choose a preset to load...", -1);
    for (int i = 0; i < ports::builtinPresetCount; ++i) {
        ports::BuiltinPreset b;
        if (ports::builtinPreset(i, b)) obs_property_list_add_int(list, b.name, i);
    }
    obs_property_set_long_description(
        list, "Loads a built-in preset's settings; the settings can be changed afterwards.");
    obs_property_set_modified_callback(list, presetChosen);
}

// What the filter delays the audio by at OBS's format, in words.
void addDelayNote(obs_properties_t* props, int rate, int channels) {
    if (rate <= 0) return;
    const auto ms = [rate](int frames) { return 1000.0 * frames / rate; };
    char text[512];
    snprintf(text, sizeof text,
             "Delays the audio by %.0f ms; the multiband engine adds %.0f ms for the band split "
             "and %.0f ms for its limiter, the output stage %.0f ms. OBS does not compensate "
             "filter delay: set the source's Sync Offset (Advanced Audio Properties) to match.",
             ms(ports::blockFrames), ms(multibandDelayFrames(rate, channels)),
             ms(multibandDelayFrames(rate, channels)), ms(outputStageLatency(rate)));
    obs_properties_add_text(props, "delay_note", text, OBS_TEXT_INFO);
}

void setValue(obs_data_t* settings, const ControlInfo& c, int code, bool asDefault) {
    const double v = ports::valueOfCode(c, code);
    switch (kindOf(c)) {
    case Kind::Toggle:
        (asDefault ? obs_data_set_default_bool : obs_data_set_bool)(settings, c.symbol, code != 0);
        break;
    case Kind::Choice:
    case Kind::Integer:
        (asDefault ? obs_data_set_default_int : obs_data_set_int)(settings, c.symbol,
                                                                   std::llround(v));
        break;
    case Kind::Float:
        (asDefault ? obs_data_set_default_double : obs_data_set_double)(settings, c.symbol, v);
        break;
    }
}

}  // namespace

Page pageOf(int control) {
    using namespace ports;
    if (control >= cLimiterOn && control <= cLimHold) return Page::Limiter;
    switch (controls[control].effect) {
    case Effect::ClassicPage:
    case Effect::EngineSwitch: return Page::Enhancer1;
    case Effect::MultibandParse:
    case Effect::CrossoverParse:
    case Effect::Solo: return Page::Enhancer2;
    default: return Page::OutputStage;
    }
}

// The true peak's reset serves only the read-outs, which OBS does not show.
bool shownInObs(int control) { return ports::controls[control].effect != ports::Effect::Meters; }

const char* pageName(Page page) { return pageNames[static_cast<int>(page)]; }

void setDefaults(obs_data_t* settings) {
    for (int k = 0; k < ports::controlCount; ++k)
        setValue(settings, ports::controls[k], ports::controls[k].defaultCode, true);
    obs_data_set_default_int(settings, presetKey, -1);
}

obs_properties_t* buildProperties(int rate, int channels) {
    obs_properties_t* props = obs_properties_create();
    addDelayNote(props, rate, channels);
    addPresetList(props);
    for (int page = 0; page < static_cast<int>(Page::count); ++page) {
        obs_properties_t* group = obs_properties_create();
        for (int k = 0; k < ports::controlCount; ++k)
            if (static_cast<int>(pageOf(k)) == page && shownInObs(k))
                addControl(group, ports::controls[k]);
        obs_properties_add_group(props, pageKeys[page], pageNames[page], OBS_GROUP_NORMAL, group);
    }
    return props;
}

double settingValue(obs_data_t* settings, int control) {
    const ControlInfo& c = ports::controls[control];
    switch (kindOf(c)) {
    case Kind::Toggle: return obs_data_get_bool(settings, c.symbol) ? 1.0 : 0.0;
    case Kind::Choice:
    case Kind::Integer: return static_cast<double>(obs_data_get_int(settings, c.symbol));
    case Kind::Float: return obs_data_get_double(settings, c.symbol);
    }
    return 0.0;
}

bool applyPreset(obs_data_t* settings, int index) {
    ports::BuiltinPreset b;
    if (!ports::builtinPreset(index, b)) return false;
    for (int k = 0; k < ports::controlCount; ++k)
        if (b.set[k]) setValue(settings, ports::controls[k], b.codes[k], false);
    return true;
}

}  // namespace obsfilter
