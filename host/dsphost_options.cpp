// dsphost's command line: the usage text and the option parser.
#include "host/dsphost_options.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>

#include "host/input_folders.h"
#include "host/plot.h"
#include "host/plugin_loader.h"

namespace {

// The index of v among an option's words, or -1 after saying which it takes
// ("--bits takes 16, 24 or float, not 32").
int choice(const char* option, const char* v, std::initializer_list<const char*> words) {
    int k = 0;
    for (const char* w : words) {
        if (strcmp(v, w) == 0) return k;
        ++k;
    }
    std::string list;
    k = 0;
    for (const char* w : words) {
        list += k == 0 ? "" : k + 1 == static_cast<int>(words.size()) ? " or " : ", ";
        list += w;
        ++k;
    }
    fprintf(stderr, "dsphost: %s takes %s, not %s\n", option, list.c_str(), v);
    return -1;
}

void print_usage(FILE* out) {
    fprintf(out,
            "Usage: dsphost [options] INPUT OUTPUT\n"
            "       dsphost [options] -o OUTDIR INPUT...\n"
            "Runs a DSP plug-in over audio files as the player would and writes the\n"
            "results as 16-bit PCM (or 24-bit or float, --bits). With -o, the inputs are\n"
            "played as one stream in the order given (the plug-in is started once and its\n"
            "state carries from one file to the next) and each result goes to OUTDIR under\n"
            "the input's base name, in the input's format unless --format says otherwise.\n"
            "A folder among them stands for the audio and video files in it and its\n"
            "subfolders (in the order of their paths; hidden ones and OUTDIR left out),\n"
            "written to the same subfolders of OUTDIR.\n"
            "Inputs: any file FFmpeg's libraries or libsndfile read (MP3, AAC/M4A, Opus,\n"
            "Ogg, FLAC, WAV, the audio of MP4/MKV/WebM...), mono or stereo, one sample rate\n"
            "and channel count for the whole set; tags and cover pictures go into the\n"
            "outputs (gain tags dropped). 16-bit input written as 16 bits goes through the\n"
            "player's 16-bit path; wider or float input, or a wider output, goes through\n"
            "the plug-in's full-resolution path (reduced to 16 bits only at the end).\n"
            "\n"
            "Options:\n"
            "  -o, --output-dir DIR  write each input's result to DIR/NAME.EXT\n"
            "  -f, --format FORMAT   wav, flac, mp3, opus, m4a (AAC), ogg (Vorbis), alac\n"
            "                        (Apple Lossless, .m4a), mp4, mkv, webm (a video's\n"
            "                        other streams copied) or same (the input's format:\n"
            "                        the default with -o); a single OUTPUT takes the\n"
            "                        format its name says, else wav (.m4a: AAC)\n"
            "  -Q, --quality Q       lossy quality: mp3 VBR level 0-9 (default 2), opus\n"
            "                        and m4a kbit/s (160, 256), ogg Vorbis -1 to 10 (6)\n"
            "  -S, --stream N        read each input's N-th audio stream (default 0)\n"
            "  -B, --bits BITS       16, 24 or float (default 16; FLAC takes 16 and 24;\n"
            "                        with --format same, the input's: 24 for wider, float\n"
            "                        for float WAV)\n"
            "  -s, --set KEY=VALUE   a setting for this run only (repeatable), e.g.\n"
            "                        enhance=2, amp_max=70, eq=50,60,40, eq_f=100,1000,8000,\n"
            "                        enh_limiter=...; keys: enhance stereo_width hpcutoff\n"
            "                        amp_max amp_up amp_dwn threshold tab_sel eq_enable eq\n"
            "                        eq_f enh_multi1 enh_multi2 enh_limiter loudness_target\n"
            "                        target_lufs tp_limit tp_ceiling band_hold level_mode\n"
            "                        tp_mode\n"
            "  -P, --preset NAME     a built-in preset by its list name, without brackets,\n"
            "                        any case: Night, Party, Club, AC Radio, Simple loud,\n"
            "                        Pump reduce, Normalize, Careful, Equalizer (classic\n"
            "                        engine), 3 band enhance, 3 band soft, 4 band enhance,\n"
            "                        4 band intense 1, 4 band intense 2, 4 band deep bass,\n"
            "                        2 band, Treble boost, Bass + Treble, Default\n"
            "                        (multiband engine); Streaming -14, Streaming -16,\n"
            "                        Broadcast -23 (gentle multiband bands and the output\n"
            "                        stage's clean choices); also the user's own presets\n"
            "  -m, --mode 0|1|2      short for --set enhance=N (0 off, 1 classic, 2 multiband)\n"
            "  -t, --target LUFS     the output stage's loudness target, -40 to -5 (short\n"
            "                        for --set loudness_target=1 --set target_lufs=-10*LUFS)\n"
            "  -T, --true-peak DB    the output stage's true-peak ceiling, -12 to 0 dBTP\n"
            "                        (short for --set tp_limit=1 --set tp_ceiling=-10*DB)\n"
            "                        Settings apply in the order given, after the user's\n"
            "                        settings file, which is read but never changed.\n"
            "  -l, --loudness        measure loudness before and after and print a table\n"
            "  -r, --report FILE     measure as -l and write the figures and the settings\n"
            "                        used as JSON\n"
            "  -g, --plot FILE       measure as -l and draw short-term loudness before and\n"
            "                        after over time, 1200x500 (.png or .svg)\n"
            "      --no-dither       reduce to 16 bits by rounding, without TPDF dither\n"
            "  -d, --delay keep|remove  keep or take out the multiband engine's delay\n"
            "                        (see below)\n"
            "  -p, --plugin PATH     the plug-in library (default: the dsp_redozer library\n"
            "                        beside dsphost, else ../lib/dsp_redozer/)\n"
            "  -b, --block FRAMES    frames per ModifySamples call (default %d)\n"
            "  -q, --quiet           no progress bar, summary or table\n"
            "      --two-pass        measure each input's integrated loudness first, then\n"
            "                        tell the output stage's leveller each file's loudness\n"
            "                        at its start, so that each lands on the target with\n"
            "                        its own dynamics (needs --target or a preset with it);\n"
            "                        a trial of the whole chain (two at most) first finds\n"
            "                        what the ceiling takes from each file and allows\n"
            "                        for it (3 LU at most)\n"
            "  -h, --help            show this text\n"
            "  --                    everything after it is a file name\n"
            "\n"
            "The multiband engine delays its output by 10 ms per stage (bands, limiter).\n"
            "With --delay remove (the default with -o) dsphost takes the delay out, so each\n"
            "output holds exactly its input's frames: the engine's silent start is dropped,\n"
            "the delay carries over file boundaries, and the end of the last file is\n"
            "pushed out with silence. With --delay keep (the default for INPUT OUTPUT) the\n"
            "output is the stream exactly as the plug-in returns it, as the player plays it.\n"
            "Outputs are written beside their destination and moved into place when\n"
            "complete; an interruption removes the unfinished one. A set stops at an input\n"
            "that cannot be read; the outputs finished before it stay complete.\n"
            "Exit status: 0 success, 1 a file or the plug-in failed, 2 bad usage.\n",
            defaultBlockFrames);
}

// The output kinds --format names, in the order of its words.
constexpr OutputKind formatKinds[] = {OutputKind::wav, OutputKind::flac, OutputKind::mp3,  OutputKind::opus,
                                      OutputKind::m4a, OutputKind::ogg,  OutputKind::mp4,  OutputKind::mkv,
                                      OutputKind::webm, OutputKind::alac, OutputKind::same};

// A whole number from low to high, or false after saying what the option takes.
bool whole_number(const char* option, const char* v, long low, long high, long& into) {
    char* end = nullptr;
    into = strtol(v, &end, 10);
    if (*v != '\0' && *end == '\0' && into >= low && into <= high) return true;
    fprintf(stderr, "dsphost: %s takes a whole number from %ld to %ld, not %s\n", option, low, high, v);
    return false;
}

// --target and --true-peak as the settings they stand for.
int take_level(const std::string& arg, const char* v, Options& options) {
    const bool target = arg == "-t" || arg == "--target";
    char* end = nullptr;
    const double x = strtod(v, &end);
    const double low = target ? -40.0 : -12.0, high = target ? -5.0 : 0.0;
    if (*v == '\0' || *end != '\0' || !(x >= low && x <= high)) {
        fprintf(stderr, "dsphost: %s takes %s from %g to %g, not %s\n", target ? "--target" : "--true-peak",
                target ? "LUFS" : "dBTP", low, high, v);
        return 2;
    }
    const long tenths = lround(-10.0 * x);
    options.overrides.push_back({Override::set, target ? "loudness_target=1" : "tp_limit=1"});
    options.overrides.push_back(
        {Override::set, std::string(target ? "target_lufs=" : "tp_ceiling=") + std::to_string(tenths)});
    return 0;
}

// The options that shape the output files; 1 when arg is none of them.
int take_output_option(const std::string& arg, const char* v, Options& options) {
    long n = 0;
    if (arg == "-f" || arg == "--format") {
        options.formatGiven = true;
        const int k = choice("--format", v, {"wav", "flac", "mp3", "opus", "m4a", "ogg", "mp4", "mkv", "webm", "alac", "same"});
        if (k < 0) return 2;
        options.format = formatKinds[k];
    } else if (arg == "-B" || arg == "--bits") {
        const int k = choice("--bits", v, {"16", "24", "float"});
        if (k < 0) return 2;
        options.bitsGiven = true;
        options.bits = k == 0 ? OutputBits::pcm16 : k == 1 ? OutputBits::pcm24 : OutputBits::float32;
    } else if (arg == "-Q" || arg == "--quality") {
        if (!whole_number("--quality", v, -1, 512, n)) return 2;
        options.quality = static_cast<int>(n);
    } else if (arg == "-S" || arg == "--stream") {
        if (!whole_number("--stream", v, 0, 999, n)) return 2;
        options.stream = static_cast<int>(n);
    } else if (arg == "-d" || arg == "--delay") {
        const int k = choice("--delay", v, {"keep", "remove"});
        if (k < 0) return 2;
        options.removeDelay = k;
    } else if (arg == "-b" || arg == "--block") {
        if (!whole_number("--block", v, 1, 1000000, n)) return 2;
        options.block = n;
    } else {
        return 1;
    }
    return 0;
}

// The options that take a value; 1 when arg is none of them.
int take_valued_option(const std::string& arg, const char* v, Options& options) {
    if (int status = take_output_option(arg, v, options); status != 1) return status;
    if (arg == "-p" || arg == "--plugin") {
        options.plugin = v;
    } else if (arg == "-o" || arg == "--output-dir") {
        options.outputDir = v;
    } else if (arg == "-r" || arg == "--report") {
        options.reportPath = v;
    } else if (arg == "-g" || arg == "--plot") {
        options.plotPath = v;
        if (!plot_extension_known(options.plotPath)) {
            fprintf(stderr, "dsphost: --plot writes .png or .svg files, not %s\n", v);
            return 2;
        }
    } else if (arg == "-s" || arg == "--set") {
        options.overrides.push_back({Override::set, v});
    } else if (arg == "-P" || arg == "--preset") {
        options.overrides.push_back({Override::preset, v});
    } else if (arg == "-m" || arg == "--mode") {
        if (strcmp(v, "0") != 0 && strcmp(v, "1") != 0 && strcmp(v, "2") != 0) {
            fprintf(stderr, "dsphost: --mode takes 0 (off), 1 (classic) or 2 (multiband), not %s\n", v);
            return 2;
        }
        options.overrides.push_back({Override::mode, v});
    } else if (arg == "-t" || arg == "--target" || arg == "-T" || arg == "--true-peak") {
        return take_level(arg, v, options);
    } else {
        return 1;
    }
    return 0;
}

bool takes_value(const std::string& arg) {
    static const char* const valued[] = {"-p", "--plugin", "-o", "--output-dir", "-r", "--report", "-g",
                                         "--plot", "-f", "--format", "-B", "--bits", "-Q", "--quality", "-S",
                                         "--stream", "-d", "--delay", "-s", "--set", "-P", "--preset", "-m",
                                         "--mode", "-t", "--target", "-T", "--true-peak", "-b", "--block"};
    for (const char* v : valued)
        if (arg == v) return true;
    return false;
}

// The output kind a single OUTPUT's name implies; wav when it names none.
OutputKind kind_of_name(const std::string& name) {
    static const char* const extensions[] = {".wav", ".flac", ".mp3", ".opus", ".m4a", ".ogg", ".mp4", ".mkv", ".webm"};
    for (size_t k = 0; k < std::size(extensions); ++k) {
        const size_t n = strlen(extensions[k]);
        if (name.size() > n && strcasecmp(name.c_str() + name.size() - n, extensions[k]) == 0) return formatKinds[k];
    }
    return OutputKind::wav;
}

// The inputs and output from the words that are not options; 0 or the exit status.
int take_files(const std::vector<std::string>& positional, Options& options) {
    if (!options.outputDir.empty()) {
        if (positional.empty()) {
            fprintf(stderr, "dsphost: expected one or more inputs after -o %s (see --help)\n",
                    options.outputDir.c_str());
            return 2;
        }
        std::vector<InputFile> files;
        if (!expand_input_folders(positional, options.outputDir, files)) return 1;
        for (const InputFile& f : files) {
            options.inputs.push_back(f.path);
            options.inputFolders.push_back(f.folder);
        }
        options.folderGiven = files.size() != positional.size() || !std::equal(files.begin(), files.end(),
            positional.begin(), [](const InputFile& f, const std::string& p) { return f.path == p; });
        if (!options.formatGiven) options.format = OutputKind::same;
        return 0;
    }
    if (positional.size() != 2) {
        fprintf(stderr, "dsphost: expected an input and an output file (see --help)\n");
        return 2;
    }
    options.inputs = {positional[0]};
    options.output = positional[1];
    // A single output is written in the format its name says unless --format says otherwise.
    if (!options.formatGiven) options.format = kind_of_name(options.output);
    if (options.format == OutputKind::same) {
        fprintf(stderr, "dsphost: --format same is for -o sets; a single OUTPUT's name says its format\n");
        return 2;
    }
    return 0;
}

}  // namespace

int parse_options(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            print_usage(stdout);
            return -1;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-l" || arg == "--loudness") {
            options.loudness = true;
        } else if (arg == "--no-dither") {
            options.dither = false;
        } else if (arg == "--two-pass") {
            options.twoPass = true;
        } else if (!takes_value(arg)) {
            fprintf(stderr, "dsphost: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        } else if (i + 1 >= argc) {
            fprintf(stderr, "dsphost: %s needs a value\n", arg.c_str());
            return 2;
        } else if (int status = take_valued_option(arg, argv[++i], options); status != 0) {
            return status;
        }
    }
    if (int status = take_files(positional, options); status != 0) return status;
    if (options.format == OutputKind::flac && options.bits == OutputBits::float32) {
        fprintf(stderr, "dsphost: FLAC holds integer samples only: --bits float needs WAV output "
                        "(--format wav, or an OUTPUT named .wav)\n");
        return 2;
    }
    if (options.plugin.empty()) options.plugin = default_plugin_path();
    return 0;
}
