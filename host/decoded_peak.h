// The true peak of an encoded output as a player decodes it, for checking a
// lossy output against the ceiling asked for.
#pragma once

#include <string>

// The decoded file's highest true peak in dBTP, measured with the same 4x
// oversampled detector as dsphost's loudness figures (-inf for silence).
// False with a message when the file cannot be decoded.
bool decoded_true_peak(const std::string& path, double& dbtp, std::string& error);
