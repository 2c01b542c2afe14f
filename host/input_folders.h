// Folders among dsphost's inputs: each stands for the audio and video files
// in it and its subfolders, so that one command does a whole library.
#pragma once

#include <string>
#include <vector>

struct InputFile {
    std::string path;
    std::string folder;  // its folder below the one given ("" for a file given itself)
};

// The inputs with each folder replaced by its media files (by extension,
// hidden files and folders and unfinished ".partial" outputs left out), in
// the order of their paths; `skip` (the output folder) is not entered. False
// after a message when a folder holds none or cannot be read.
bool expand_input_folders(const std::vector<std::string>& inputs, const std::string& skip,
                          std::vector<InputFile>& files);
