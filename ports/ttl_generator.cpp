// Writes the LV2 bundle's Turtle files from the port table and the built-in
// presets, so the table stays the one source of the ports:
//   redozer_ttl OUTDIR       manifest.ttl, dsp_redozer.ttl, presets.ttl
//   redozer_ttl --markdown   the README's port table on standard output
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/multiband_strings.h"
#include "ports/builtin_presets.h"
#include "ports/ladspa_hints.h"
#include "ports/port_table.h"
#include "settings/eq_preset_slots.h"
#include "settings/plugin_settings.h"

using namespace ports;

namespace {

const char* const libraryName = "dsp_redozer_lv2.so";
const char* const uiLibraryName = "dsp_redozer_ui.so";
const char* const uiUri = "urn:dsp-redozer:ui";

// A Turtle number: integers as integers, anything else with enough digits
// that the value maps back to its own code from a 32-bit float port.
std::string number(double v, bool integer) {
    char text[64];
    if (integer) {
        snprintf(text, sizeof text, "%lld", static_cast<long long>(std::llround(v)));
        return text;
    }
    snprintf(text, sizeof text, "%.9g", v);
    std::string s = text;
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

std::string quoted(const char* text) {
    std::string s = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\') s += '\\';
        s += *p;
    }
    return s + "\"";
}

std::string unitTurtle(Unit unit) {
    switch (unit) {
    case Unit::Hz: return "units:hz";
    case Unit::Ms: return "units:ms";
    case Unit::Db: return "units:db";
    case Unit::Percent: return "units:pc";
    case Unit::Frames: return "units:frame";
    case Unit::Times:
        return "[ a units:Unit ; rdfs:label \"times\" ; units:symbol \"x\" ; "
               "units:render \"%.2f x\" ]";
    case Unit::Ratio:
        return "[ a units:Unit ; rdfs:label \"ratio\" ; units:symbol \":1\" ; "
               "units:render \"%.1f : 1\" ]";
    case Unit::Lufs:
        return "[ a units:Unit ; rdfs:label \"loudness units full scale\" ; units:symbol \"LUFS\" ; "
               "units:render \"%.1f LUFS\" ]";
    case Unit::Dbtp:
        return "[ a units:Unit ; rdfs:label \"decibels true peak\" ; units:symbol \"dBTP\" ; "
               "units:render \"%.1f dBTP\" ]";
    case Unit::None: break;
    }
    return "";
}

const char* unitText(Unit unit) {
    switch (unit) {
    case Unit::Hz: return "Hz";
    case Unit::Ms: return "ms";
    case Unit::Db: return "dB";
    case Unit::Percent: return "%";
    case Unit::Frames: return "frames";
    case Unit::Lufs: return "LUFS";
    case Unit::Dbtp: return "dBTP";
    case Unit::Times: return "x";
    case Unit::Ratio: return ": 1";
    case Unit::None: break;
    }
    return "";
}

const char* const prefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

struct Preset {
    std::string uri, label;
    int32_t codes[controlCount];
    bool set[controlCount];
};

std::string slug(const std::string& name) {
    std::string s;
    for (char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            s += c;
        else if (c >= 'A' && c <= 'Z')
            s += static_cast<char>(c - 'A' + 'a');
        else if (!s.empty() && s.back() != '-')
            s += '-';
    }
    while (!s.empty() && s.back() == '-') s.pop_back();
    return s;
}

// The built-in presets, as the plug-in UI applies them too.
std::vector<Preset> presets() {
    std::vector<Preset> list;
    for (int i = 0; i < builtinPresetCount; ++i) {
        BuiltinPreset b;
        if (!builtinPreset(i, b)) continue;
        Preset p{};
        memcpy(p.codes, b.codes, sizeof p.codes);
        memcpy(p.set, b.set, sizeof p.set);
        const char* group = b.kind == PresetKind::Enhancer    ? "enhancer"
                            : b.kind == PresetKind::Multiband ? "multiband"
                                                              : "output";
        const char* title = b.kind == PresetKind::Enhancer    ? "Enhancer: "
                            : b.kind == PresetKind::Multiband ? "Multiband: "
                                                              : "Output: ";
        p.label = std::string(title) + b.name;
        p.uri = std::string("urn:dsp-redozer:preset:") + group + "-" + slug(b.name);
        list.push_back(p);
    }
    return list;
}

std::string portBlock(int index, const char* type, const char* symbol, const char* name) {
    char text[400];
    snprintf(text, sizeof text,
             "[\n        a lv2:%s ;\n        lv2:index %d ;\n        lv2:symbol \"%s\" ;\n"
             "        lv2:name %s",
             type, index, symbol, quoted(name).c_str());
    return text;
}

// The stereo plug-in's audio ports form an input and an output stereo group
// with left and right designations; hosts such as GStreamer's lv2 element
// take a plug-in with two inputs and two outputs as one stereo filter only so.
const char* const stereoInGroup = "urn:dsp-redozer:group:stereo-in";
const char* const stereoOutGroup = "urn:dsp-redozer:group:stereo-out";

std::string stereoGroups() {
    return std::string("<") + stereoInGroup +
           ">\n    a pg:StereoGroup, pg:InputGroup ;\n    lv2:symbol \"in\" ;\n"
           "    rdfs:label \"Input\" .\n\n<" +
           stereoOutGroup +
           ">\n    a pg:StereoGroup, pg:OutputGroup ;\n    lv2:symbol \"out\" ;\n"
           "    rdfs:label \"Output\" .\n\n";
}

// The UI's notifications (LV2 only, after the read-outs).
std::string notifyPort(int channels) {
    std::string s = portBlock(notifyPortIndex(channels), "OutputPort, atom:AtomPort", "notify",
                              "Notifications");
    s += " ;\n        atom:bufferType atom:Sequence ;\n        atom:supports atom:Vector ;\n"
         "        lv2:portProperty lv2:connectionOptional ;\n"
         "        rsz:minimumSize " + std::to_string(notifyBufferSize) +
         " ;\n        rdfs:comment " +
         quoted("The multiband limiter's traces for the plug-in's window, about 30 a second.") +
         "\n    ]";
    return s;
}

std::string pluginTurtle(const char* uri, const char* name, int channels) {
    std::string s;
    s += "<" + std::string(uri) + ">\n    a lv2:Plugin, lv2:CompressorPlugin, doap:Project ;\n";
    if (channels == 2)
        s += std::string("    pg:mainInput <") + stereoInGroup + "> ;\n    pg:mainOutput <" +
             stereoOutGroup + "> ;\n";
    s += "    doap:name " + quoted(name) + " ;\n";
    s += "    doap:maintainer [ a <http://xmlns.com/foaf/0.1/Person> ; "
         "<http://xmlns.com/foaf/0.1/name> \"yarq\" ] ;\n";
    s += "    lv2:optionalFeature lv2:hardRTCapable , urid:map , work:schedule ;\n";
    s += "    lv2:extensionData work:interface ;\n";
    s += "    ui:ui <" + std::string(uiUri) + "> ;\n";
    s += "    rdfs:comment \"Levels tracks of different loudness: the classic single-band "
         "enhancer with a three-band equalizer, or the multiband engine with soft clip and "
         "limiter. Works on 16-bit samples in blocks of 576 frames, so the output is "
         "delayed by 576 frames (plus the multiband engine's lookahead; the latency port says "
         "how much). "
         "Sample rates above 96000 Hz pass through unchanged.\" ;\n";
    s += "    lv2:port ";
    static const char* const stereoAudio[4][2] = {
        {"in_l", "Input L"}, {"in_r", "Input R"}, {"out_l", "Output L"}, {"out_r", "Output R"}};
    static const char* const monoAudio[2][2] = {{"in", "Input"}, {"out", "Output"}};
    bool first = true;
    auto next = [&]() {
        if (!first) s += " , ";
        first = false;
    };
    for (int i = 0; i < 2 * channels; ++i) {
        next();
        const char* const* audio = channels == 2 ? stereoAudio[i] : monoAudio[i];
        const char* type = i < channels ? "InputPort, lv2:AudioPort" : "OutputPort, lv2:AudioPort";
        s += portBlock(i, type, audio[0], audio[1]);
        if (channels == 2)
            s += std::string(" ;\n        lv2:designation ") + (i % 2 == 0 ? "pg:left" : "pg:right") +
                 " ;\n        pg:group <" + (i < 2 ? stereoInGroup : stereoOutGroup) + ">";
        s += "\n    ]";
    }
    for (int k = 0; k < controlCount; ++k) {
        const ControlInfo& c = controls[k];
        next();
        s += portBlock(controlPortIndex(channels, k), "InputPort, lv2:ControlPort", c.symbol,
                       c.name);
        const bool integer = (c.flags & flagInteger) != 0;
        s += " ;\n        lv2:default " + number(defaultValue(c), integer);
        s += " ;\n        lv2:minimum " + number(minimumValue(c), integer);
        s += " ;\n        lv2:maximum " + number(maximumValue(c), integer);
        std::string props;
        if (c.flags & flagToggle)
            props = "lv2:toggled";
        else if (c.flags & flagEnumeration)
            props = "lv2:integer, lv2:enumeration";
        else if (integer)
            props = "lv2:integer";
        if (!props.empty()) s += " ;\n        lv2:portProperty " + props;
        for (int p = 0; p < c.pointCount; ++p)
            s += std::string(p == 0 ? " ;\n        lv2:scalePoint " : " , ") + "[ rdfs:label " +
                 quoted(c.points[p].label) + " ; rdf:value " +
                 number(c.points[p].value, true) + " ]";
        const std::string unit = unitTurtle(c.unit);
        if (!unit.empty()) s += " ;\n        units:unit " + unit;
        s += " ;\n        rdfs:comment " + quoted(c.help) + "\n    ]";
    }
    for (int r = 0; r < readoutCount; ++r) {
        const ReadoutInfo& o = readouts[r];
        next();
        s += portBlock(readoutPortIndex(channels, r), "OutputPort, lv2:ControlPort", o.symbol,
                       o.name);
        const bool latency = r == rLatency;
        s += " ;\n        lv2:default " + number(o.defaultValue, latency);
        s += " ;\n        lv2:minimum " + number(o.minimum, latency);
        s += " ;\n        lv2:maximum " + number(o.maximum, latency);
        if (latency)
            s += " ;\n        lv2:designation lv2:latency ;\n        lv2:portProperty "
                 "lv2:reportsLatency, lv2:integer";
        s += " ;\n        units:unit " + unitTurtle(o.unit);
        s += " ;\n        rdfs:comment " + quoted(o.help) + "\n    ]";
    }
    next();
    s += notifyPort(channels);
    s += " .\n\n";
    return s;
}

bool writeFile(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr) {
        perror(path.c_str());
        return false;
    }
    const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

std::string appliesTo() {
    return std::string("lv2:appliesTo <") + stereoUri + "> , <" + monoUri + ">";
}

int writeBundle(const std::string& dir) {
    const std::vector<Preset> list = presets();

    std::string manifest = prefixes;
    for (const char* uri : {stereoUri, monoUri})
        manifest += "<" + std::string(uri) + ">\n    a lv2:Plugin ;\n    lv2:binary <" +
                    libraryName + "> ;\n    rdfs:seeAlso <dsp_redozer.ttl> .\n\n";
    // One UI for both plug-ins, in a binary of its own.
    manifest += "<" + std::string(uiUri) + ">\n    a ui:X11UI ;\n    ui:binary <" + uiLibraryName +
                "> ;\n    lv2:optionalFeature ui:idleInterface , ui:resize , urid:map ;\n"
                "    lv2:extensionData ui:idleInterface , ui:resize .\n\n";
    for (const Preset& p : list)
        manifest += "<" + p.uri + ">\n    a pset:Preset ;\n    " + appliesTo() +
                    " ;\n    rdfs:seeAlso <presets.ttl> .\n\n";

    std::string plugin = prefixes;
    plugin += stereoGroups();
    plugin += pluginTurtle(stereoUri, stereoName, 2);
    plugin += pluginTurtle(monoUri, monoName, 1);

    std::string preset = prefixes;
    for (const Preset& p : list) {
        preset += "<" + p.uri + ">\n    a pset:Preset ;\n    " + appliesTo() +
                  " ;\n    rdfs:label " + quoted(p.label.c_str()) + " ;\n    lv2:port ";
        bool first = true;
        for (int k = 0; k < controlCount; ++k) {
            if (!p.set[k]) continue;
            const ControlInfo& c = controls[k];
            int code = p.codes[k];
            if (code < c.codeMin) code = c.codeMin;  // as the page clamps what it shows
            if (code > c.codeMax) code = c.codeMax;
            preset += std::string(first ? "" : " , ") + "[\n        lv2:symbol \"" + c.symbol +
                      "\" ;\n        pset:value " +
                      number(valueOfCode(c, code), false) + "\n    ]";
            first = false;
        }
        preset += " .\n\n";
    }
    return writeFile(dir + "/manifest.ttl", manifest) &&
                   writeFile(dir + "/dsp_redozer.ttl", plugin) &&
                   writeFile(dir + "/presets.ttl", preset)
               ? 0
               : 1;
}

void writeMarkdown() {
    printf("| LV2 index (stereo/mono) | LADSPA `c` index | Symbol | Name | Range | Default | "
           "Unit | Notes |\n|---|---|---|---|---|---|---|---|\n");
    for (int k = 0; k < controlCount; ++k) {
        const ControlInfo& c = controls[k];
        const bool integer = (c.flags & flagInteger) != 0;
        std::string range = number(minimumValue(c), integer) + " .. " +
                            number(maximumValue(c), integer);
        std::string notes = c.help;
        for (int p = 0; p < c.pointCount; ++p)
            notes += std::string(p == 0 ? " " : ", ") + number(c.points[p].value, true) + " " +
                     c.points[p].label;
        const LADSPA_PortRangeHint hint = ladspaHint(c);
        const double ladspaDefault = ladspaDefaultValue(hint);
        if (codeOfValue(c, ladspaDefault) != c.defaultCode)
            notes += " LADSPA default: " + number(ladspaDefault, integer) + ".";
        if (!(c.flags & flagToggle) && (hint.LowerBound != static_cast<float>(minimumValue(c)) ||
                                        hint.UpperBound != static_cast<float>(maximumValue(c))))
            notes += " LADSPA range " + number(hint.LowerBound, integer) + " .. " +
                     number(hint.UpperBound, integer) + ", for an exact default.";
        printf("| %d/%d | %d | `%s` | %s | %s | %s | %s | %s |\n", controlPortIndex(2, k),
               controlPortIndex(1, k), k, c.symbol, c.name, range.c_str(),
               number(defaultValue(c), integer).c_str(), unitText(c.unit), notes.c_str());
    }
    for (int r = 0; r < readoutCount; ++r) {
        const ReadoutInfo& o = readouts[r];
        printf("| %d/%d | out | `%s` | %s | %s .. %s | | %s | %s |\n", readoutPortIndex(2, r),
               readoutPortIndex(1, r), o.symbol, o.name, number(o.minimum, false).c_str(),
               number(o.maximum, false).c_str(), unitText(o.unit), o.help);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--markdown") == 0) {
        writeMarkdown();
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: redozer_ttl OUTDIR | --markdown\n");
        return 2;
    }
    return writeBundle(argv[1]);
}
