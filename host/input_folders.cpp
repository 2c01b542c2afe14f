// Walking the folders among dsphost's inputs.
#include "host/input_folders.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// What FFmpeg or libsndfile read that a music or video library holds.
bool media_name(const fs::path& p) {
    static const char* const extensions[] = {".wav",  ".flac", ".mp3", ".ogg", ".oga", ".opus", ".m4a",
                                             ".m4b",  ".aac",  ".mp4", ".m4v", ".mkv", ".mka",  ".webm",
                                             ".wma",  ".aif",  ".aiff", ".wv", ".ape", ".mpc",  ".mov"};
    const std::string e = p.extension().string();
    for (const char* known : extensions)
        if (strcasecmp(e.c_str(), known) == 0) return true;
    return false;
}

bool hidden(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

// The media files below one folder, their paths sorted; false after a message.
bool walk(const fs::path& root, const std::string& skip, std::vector<InputFile>& files) {
    std::error_code error;
    std::vector<InputFile> found;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        const fs::path& p = it->path();
        std::error_code ignored;
        if (hidden(p) || (!skip.empty() && fs::equivalent(p, skip, ignored))) {
            if (it->is_directory(ignored)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(ignored) && media_name(p))
            found.push_back({p.string(), p.parent_path().lexically_relative(root).string()});
    }
    if (error) {
        fprintf(stderr, "dsphost: cannot read the folder %s: %s\n", root.string().c_str(), error.message().c_str());
        return false;
    }
    if (found.empty()) {
        fprintf(stderr, "dsphost: the folder %s holds no audio or video files\n", root.string().c_str());
        return false;
    }
    std::sort(found.begin(), found.end(), [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
    for (InputFile& f : found)
        if (f.folder == ".") f.folder.clear();
    files.insert(files.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    return true;
}

}  // namespace

bool expand_input_folders(const std::vector<std::string>& inputs, const std::string& skip,
                          std::vector<InputFile>& files) {
    for (const std::string& input : inputs) {
        std::error_code ignored;
        if (input != "-" && fs::is_directory(input, ignored)) {
            if (!walk(input, skip, files)) return false;
        } else {
            files.push_back({input, ""});
        }
    }
    return true;
}
