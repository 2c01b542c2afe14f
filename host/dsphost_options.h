// dsphost's command line: the options of one run and their parsing.
#pragma once

#include <string>
#include <vector>

#include "host/sound_file.h"

constexpr int defaultBlockFrames = 576;

// A --set, --preset or --mode argument, applied in the order given.
struct Override {
    enum Kind { set, preset, mode } kind;
    std::string text;
};

struct Options {
    std::vector<std::string> inputs;
    std::vector<std::string> inputFolders;  // with -o: each input's folder below a folder given ("" for none)
    bool folderGiven = false;               // a folder was among the inputs
    std::string output, outputDir, plugin, reportPath, plotPath;
    std::vector<Override> overrides;
    OutputKind format = OutputKind::wav;  // same by default with -o
    OutputBits bits = OutputBits::pcm16;
    bool formatGiven = false, bitsGiven = false;
    int quality = defaultQuality;  // the codec's own measure (see --help)
    int stream = -1;               // the audio stream of each input; -1 the first
    long block = defaultBlockFrames;
    bool quiet = false, loudness = false, dither = true;
    bool twoPass = false;  // measure each input's loudness first, tell the leveller at each file
    int removeDelay = -1;  // -1: the form's default (remove with -o, keep otherwise)
};

// Returns 0 to go on, -1 after --help (printed), otherwise the exit code
// after a message on stderr.
int parse_options(int argc, char** argv, Options& options);
