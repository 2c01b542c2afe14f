// Splitting a folder's files into sets of one format.
#include "host/dsphost_groups.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "host/sound_file.h"

namespace {

// "run.json" for the first run, "run-2.json" for the second...
std::string numbered(const std::string& path, size_t run) {
    if (path.empty() || run == 0) return path;
    const std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + "-" + std::to_string(run + 1) + p.extension().string())).string();
}

}  // namespace

int split_by_format(const Options& options, std::vector<Options>& runs) {
    runs.clear();
    if (!options.folderGiven) {
        runs.push_back(options);
        return 0;
    }
    int rate = 0, channels = 0;  // the current set's format (0: not known yet)
    for (size_t i = 0; i < options.inputs.size(); ++i) {
        // A pipe can be read only once: it joins the current set unread, and
        // the run's own checks refuse it there if its format differs.
        SoundFormat format;
        if (!is_stream(options.inputs[i])) {
            std::string error;
            SoundInput* input = sound_open_input(options.inputs[i], format, error, options.stream);
            if (input == nullptr) {
                fprintf(stderr, "dsphost: cannot read %s: %s\n", options.inputs[i].c_str(), error.c_str());
                return 1;
            }
            sound_close_input(input);
        }
        const bool known = format.rate > 0;
        if (runs.empty() || (known && rate > 0 && (format.rate != rate || format.channels != channels))) {
            Options next = options;
            next.inputs.clear();
            next.inputFolders.clear();
            next.reportPath = numbered(options.reportPath, runs.size());
            next.plotPath = numbered(options.plotPath, runs.size());
            runs.push_back(next);
            rate = channels = 0;
        }
        if (known && rate == 0) {
            rate = format.rate;
            channels = format.channels;
        }
        runs.back().inputs.push_back(options.inputs[i]);
        runs.back().inputFolders.push_back(options.inputFolders[i]);
    }
    if (runs.size() > 1 && !options.quiet)
        fprintf(stderr, "dsphost: the files mix sample rates or channel counts: played as %zu sets, one for each "
                        "stretch of files that share them\n", runs.size());
    return 0;
}
